"""Hostile texts through every fill that writes text, in real Chromium: quotes, backquotes,
template and script markup, an image with an error handler, NUL, emoji, right-to-left
text and a 1 MB value each land exactly as given, and the page executes none of them."""
import asyncio
import hashlib

import pytest

from ziveviver import vexocontrole as vc

LIMIT = 60  # seconds; only a hang reaches it

# Each payload, were it ever run as script or parsed as markup, sets window.__pwned.
PAYLOADS = [
    '" + (window.__pwned = "dq") + "',
    "' + (window.__pwned = 'sq') + '",
    "` + (window.__pwned = `bq`) + `",
    "${window.__pwned = 'tpl'}",
    "</script><script>window.__pwned = 'script'</script>",
    "<img src=x onerror=\"window.__pwned = 'img'\">",
    "nul\x00no meio\x00",
    "emoji 😀 👍🏽 👨‍👩‍👧 fim",
    "árabe مرحبا بالعالم e hebraico שלום עולם \u202edireita\u202c",
]
# A megabyte: every payload at both ends and in the middle, plain text between them.
_ALL = "".join(PAYLOADS)
_FILL = "0123456789abcdef" * ((1 << 20) // 32)
BIG = _ALL + _FILL + _ALL + _FILL + _ALL
TEXTS = PAYLOADS + [BIG]
IDS = ["double quotes", "single quotes", "backquotes", "template", "script", "img", "nul", "emoji", "rtl", "1 MB"]

# Read after a short while, so that an image error handler would have had its turn.
NOT_RUN = "() => new Promise((r) => setTimeout(() => r(window.__pwned === undefined), 200))"


def bounded(run, coro):
    return run(asyncio.wait_for(coro, LIMIT))


# What an item holds and what its last setValue carried, as SHA-256 digests of their UTF-8
# (a list of digests for multi-value items), so that megabytes need not travel back.
LANDED = """async (item) => {
  const one = async (s) => {
    if (s === null || s === undefined) return null;
    const d = await crypto.subtle.digest('SHA-256', new TextEncoder().encode(s));
    return Array.from(new Uint8Array(d), (b) => b.toString(16).padStart(2, '0')).join('');
  };
  const digest = (v) => (Array.isArray(v) ? Promise.all(v.map(one)) : one(v));
  const calls = __zv.calls.filter((c) => c.item === item);
  const last = calls.length ? calls[calls.length - 1].args[0] : null;
  return [await digest(__zv.value(item)), await digest(last), await digest(__zv.display(item))];
}"""


def digest(v):
    if isinstance(v, list):
        return [digest(x) for x in v]
    return hashlib.sha256(v.encode("utf-8", "surrogatepass")).hexdigest()


def landed(run, page, item):
    """(value, last setValue argument, display) of the item, as digests."""
    return run(page.evaluate(LANDED, item))


def add_options(run, page, select_id, values):
    run(page.evaluate("""([id, values]) => {
        const sel = document.getElementById(id);
        values.forEach((v) => sel.add(new Option(v.slice(0, 40), v)));
    }""", [select_id, values]))


# One fill and the item it writes: (fill, item, how the text is read back).
TEXT_FILLS = [
    (vc.fCtPreencText, "P1_NOME"),
    (vc.fCtPreencTextArea, "P1_OBS"),
    (vc.fCtPreencAutoComplete, "P1_CIDADE"),
    (vc.fCtPreencDatepicker, "P1_DATA_NASC"),
]


def test_text_like_fills_deliver_every_text_intact(form, run, quiet):
    for fill, item in TEXT_FILLS:
        texts = TEXTS + (["linhas\nseparadas\n\ne um fim\n"] if item == "P1_OBS" else [])
        for name, text in zip(IDS + ["newlines"], texts):
            assert bounded(run, fill(form, "#" + item, text)) is None
            value, last, _ = landed(run, form, item)
            assert value == last == digest(text), (fill.__name__, name)
    assert run(form.evaluate(NOT_RUN))


def test_select_list_fills_choose_the_options_of_every_text(form, run, quiet):
    add_options(run, form, "P1_PAIS", TEXTS)
    for name, text in zip(IDS, TEXTS):
        assert bounded(run, vc.fCtApexPreencDropDownList(form, "#P1_PAIS", text)) is None
        assert landed(run, form, "P1_PAIS")[0] == digest(text), name
    add_options(run, form, "P1_IDIOMAS", TEXTS)
    assert bounded(run, vc.fCtApexPreencMultiSelect(form, "#P1_IDIOMAS", TEXTS)) is None
    value, last, _ = landed(run, form, "P1_IDIOMAS")
    assert value == last == digest(TEXTS)
    assert run(form.evaluate(NOT_RUN))


ADD_ROWS = """([parentSel, texts]) => {
  const parent = document.querySelector(parentSel);
  texts.forEach((t) => {
    const li = document.createElement('li');
    li.className = 'a-IconList-item';
    li.setAttribute('data-id', t);
    li.textContent = t;
    parent.appendChild(li);
  });
}"""


def test_popup_lov_by_description_sets_rows_whose_id_and_text_are_hostile(form, run, quiet):
    run(form.evaluate("document.body.insertAdjacentHTML('beforeend', '<ul id=\"rows\"></ul>')"))
    run(form.evaluate(ADD_ROWS, ["#rows", TEXTS]))
    for name, text in zip(IDS, TEXTS):
        assert bounded(run, vc.fCtApexPreencPopupLovDesc(form, "#P1_BANCO", text)) is None
        value, last, shown = landed(run, form, "P1_BANCO")
        assert value == last == shown == digest(text), name
    assert run(form.evaluate(NOT_RUN))


def test_popup_lov_by_id_finds_and_sets_a_hostile_megabyte_id(form, run, quiet):
    value = BIG.strip()
    # the popup, opened once, keeps its loaded rows; one more row joins them
    run(form.click("#P1_PROFISSAO_lov_btn"))
    run(form.wait_for_selector("#PopupLov_1_P1_PROFISSAO_dlg .a-IconList-item"))
    run(form.evaluate(ADD_ROWS, ["#PopupLov_1_P1_PROFISSAO_dlg ul.a-IconList", [value]]))
    run(form.click(".ui-dialog-popuplov .ui-dialog-titlebar-close"))
    assert bounded(run, vc.fCtApexPreencPopupLovId(form, "#P1_PROFISSAO", value)) is None
    value_now, last, shown = landed(run, form, "P1_PROFISSAO")
    assert value_now == last == shown == digest(value)
    assert run(form.evaluate(NOT_RUN))


def test_notice_texts_with_backquotes_and_template_markers_arrive_whole(form, run, quiet):
    # The notice takes markup by design; texts without markup come through as they are.
    msg = "crase ` e ${window.__pwned = 'tpl'} e aspas \" ' — 😀 مرحبا"
    caption = "`${x}` \"ok\""

    async def show_and_dismiss():
        task = asyncio.ensure_future(vc.fCtPopUpHtml(form, msg, caption))
        await form.wait_for_selector("#final-modal-overlay")
        shown = await form.evaluate(
            "[document.querySelector('#final-modal-overlay p').textContent,"
            " document.getElementById('modal-ok-btn').textContent]")
        await form.click("#modal-ok-btn")
        await task
        return shown

    assert bounded(run, show_and_dismiss()) == [msg, caption]
    assert run(form.evaluate(NOT_RUN))
