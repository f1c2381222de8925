"""How ``lote`` follows the operator's submit of a record's tab, and finds the tabs a run that
died left behind.

- The submit: the form's POST that navigates the tab, or APEX's page submit by ajax to its
  accept endpoint (wwv_flow.accept, or .../accept under friendly URLs).
- The answer: a new page (the tab's, or the one that replaces the dialog page holding the
  form in its frame), which is the form again when the application refused the submit
  (APEX renders the page's error notification, #APEX_ERROR_MESSAGE with one
  .a-Notification-item per message, and each item's inline error, #ITEM_error_placeholder
  with #ITEM_error); or, for the ajax submit, JSON: {"errors": [{message, pageItem, ...}]} to
  show on the same page, or {"redirectURL"} to the page that follows.
- The marks: a tab carries, in its session storage (which outlives the tab's navigations), the
  status file it belongs to and its record's key; the form lote loaded carries the key on its
  document (gone once the tab has left that page, or the dialog page holding it has closed).
"""
import hashlib
import json
from urllib.parse import urlsplit

STORAGE_KEY = "zv-lote"
DOC_ATTR = "data-zv-lote"

# Marks the tab and the form it shows as the record's (argument {key, value, attr, chave}).
MARK = """(m) => {
  try { sessionStorage.setItem(m.key, m.value); } catch (e) { /* storage refused: unmarked */ }
  document.documentElement.setAttribute(m.attr, m.chave);
}"""
# What marks a tab carries: {run, chave, here (the form lote loaded is still the page)} or null.
FIND = """(m) => {
  let stored = null;
  try { stored = JSON.parse(sessionStorage.getItem(m.key) || "null"); } catch (e) { return null; }
  if (!stored) return null;
  return { run: stored.run, chave: stored.chave, here: document.documentElement.hasAttribute(m.attr) };
}"""
# The errors APEX shows on the page: the page notification's messages and the items' inline
# errors ({item, text}); only what is shown counts (an empty, hidden placeholder does not).
ERRORS = """() => {
  const shown = (el) => !!el && el.textContent.trim() !== "" && !el.closest(".u-hidden") &&
    getComputedStyle(el).display !== "none";
  const out = [];
  for (const box of document.querySelectorAll("#APEX_ERROR_MESSAGE, #t_Alert_Notification")) {
    let items = box.querySelectorAll(".a-Notification-item, .htmldbStdErr");
    if (!items.length && box.querySelector(".a-Notification--error")) items = [box];
    for (const li of items) if (shown(li)) out.push({ item: null, text: li.textContent.trim() });
  }
  for (const slot of document.querySelectorAll('.a-Form-error[id$="_error_placeholder"]')) {
    if (shown(slot)) out.push({ item: slot.id.slice(0, -"_error_placeholder".length), text: slot.textContent.trim() });
  }
  return out;
}"""


def is_submit(request, form):
    """The form's real submit: a POST of the form's frame (the tab's page, or the dialog page
    that holds the form) that navigates it, or a POST to APEX's page-submit endpoint."""
    frame = getattr(form, "main_frame", form)
    try:
        if request.method != "POST" or request.frame != frame:
            return False
    except Exception:  # noqa: BLE001 - a request without a frame (a worker's) is not the form's
        return False
    return request.is_navigation_request() or is_accept(request.url)


async def find_mark(page):
    """FIND over a tab's frames (the form lote loaded may be a dialog page's): the marks the
    tab carries, `here` when any of its frames still shows that form; None when unmarked."""
    found = None
    for frame in page.frames:
        try:
            mark = await frame.evaluate(FIND, find_arg())
        except Exception:  # noqa: BLE001 - a frame that cannot say (navigating, another origin's)
            continue
        if mark and found is None:
            found = mark
        elif mark:
            found["here"] = found["here"] or mark["here"]
    return found


def is_accept(url):
    return urlsplit(url).path.endswith(("wwv_flow.accept", "/accept"))


def run_id(status_path):
    """Names the status file a tab belongs to (runs over other files leave its tabs alone)."""
    return hashlib.sha256(str(status_path.resolve()).encode("utf-8")).hexdigest()[:16]


def mark_arg(run, key):
    return {"key": STORAGE_KEY, "attr": DOC_ATTR, "chave": key,
            "value": json.dumps({"run": run, "chave": key})}


def find_arg():
    return {"key": STORAGE_KEY, "attr": DOC_ATTR}


def ajax_errors(text):
    """The errors of an ajax page submit's JSON answer, as ERRORS gives them; [] when the
    answer accepts the submit, None when it is not such an answer."""
    try:
        answer = json.loads(text)
    except ValueError:
        return None
    if not isinstance(answer, dict):
        return None
    errors = answer.get("errors")
    if not errors:
        return [] if "redirectURL" in answer or not answer else None
    out = []
    for e in errors if isinstance(errors, list) else [errors]:
        e = e if isinstance(e, dict) else {"message": e}
        where = e.get("location") or "page"
        # an error shown on the page is said as the page says it; one only inline, with its item
        out.append({"item": None if "page" in ([where] if isinstance(where, str) else where) else e.get("pageItem"),
                    "text": str(e.get("message", "")).strip()})
    return out


def rejection(errors):
    """The application's errors in one line: page messages, then "ITEM: message" for an
    item's own message not already said."""
    said, parts = set(), []
    for e in errors:
        if e["text"] and e["text"] not in said:
            said.add(e["text"])
            parts.append(f"{e['item']}: {e['text']}" if e["item"] else e["text"])
    return "; ".join(parts) or "erro sem mensagem"
