"""Popup LOV fills in real Chromium against the stand-in APEX page: rows on later pages, an
absent row, two popups in a row, cancellation, the description fill; and the row-search
script itself on small pages made for it."""
import asyncio
import pathlib

import pytest

from ziveviver import vexocontrole as vc

ROOT = pathlib.Path(__file__).resolve().parents[2]
PROF = "#P1_PROFISSAO"
NOT_FOUND_999 = 'Item com data-id="999" nao encontrado'

# Counts the clicks on LOV buttons (by item) and the load-more clicks a script makes, a
# disabled button's included (such a click fires no event, so listeners cannot count it).
INSTRUMENT = """() => {
  window.__lovClicks = {};
  document.addEventListener('click', (e) => {
    const b = e.target.closest && e.target.closest('[id$="_lov_btn"]');
    if (b) window.__lovClicks[b.id] = (window.__lovClicks[b.id] || 0) + 1;
  }, true);
  window.__loadMore = 0;
  const click = HTMLElement.prototype.click;
  HTMLElement.prototype.click = function () {
    if (this.matches('.a-GV-loadMoreButton')) window.__loadMore += 1;
    return click.call(this);
  };
}"""

# The popup dialogs are read where the stand-in builds them: the top document (the page's own,
# or the top window's for a dialog page's item); a dialog page's own overlay is not a popup's.
POPUP_STATE = """(item) => ({
  open: Array.from(top.document.querySelectorAll('.ui-dialog-popuplov'))
    .filter((d) => d.style.display !== 'none').map((d) => d.getAttribute('aria-describedby')),
  overlays: top.document.querySelectorAll('.ui-widget-overlay:not(.zv-dialogOverlay)').length,
  rows: item ? top.document.querySelectorAll(`[id^="PopupLov_"][id$="_${item}_dlg"] :is(.a-IconList-item, tr.a-GV-row[data-id])`).length : null,
  lovClicks: (window.__lovClicks || {})[item + '_lov_btn'] || 0,
  calls: __zv.calls.filter((c) => c.item === item || c.missing).map((c) => [c.item, c.args[0], c.args[1], !!c.missing]),
  value: item ? __zv.value(item) : null,
  display: item ? __zv.display(item) : null,
})"""


def state(run, page, item=None):
    return run(page.evaluate(POPUP_STATE, item))


class LogTail:
    """The lines a test adds to the module's real log file."""

    def __init__(self, path):
        self.path = pathlib.Path(path)
        self.start = self.path.stat().st_size if self.path.exists() else 0

    def lines(self):
        data = self.path.read_bytes()
        if len(data) < self.start:  # rotated meanwhile
            self.start = 0
        return data[self.start:].decode("utf-8").splitlines()

    def messages(self, level):
        tag = f"[{level}] "
        return [ln.split(tag, 1)[1] for ln in self.lines() if tag in ln]


@pytest.fixture
def debug_log(form):
    """A controller with debug on over the form: the module writes its real log file."""
    saved = vc.gDebugDev, vc.objfLog
    vc.VexoControleApex(form, True)
    tail = LogTail(vc.objfLog.handlers[0].baseFilename)
    yield tail
    vc.gDebugDev, vc.objfLog = saved


# ------------------------------------------------------------------ fill by id

ROWS_BY_ID = [
    ("P1_PROFISSAO", 105, "105", "Advogado", 20, 0),           # page 1
    ("P1_PROFISSAO", "145", "145", "Militar", 60, 2),          # page 3
    ("P1_PROFISSAO", " 160 ", "160", "Autônomo", 60, 2),       # last row of the last page
    # grid display (two columns): the text is the display column's, never the whole row's
    ("P1_AGENCIA", "305", "305", "Belo Horizonte Oeste", 20, 0),
    ("P1_AGENCIA", 341, "341", "Porto Centro", 60, 2),
    ("P1_AGENCIA", "360", "360", "São Paulo Oeste", 60, 2),
]


# Every row on the page and in a dialog page; the page's main frame (the same document, handed
# over as a Frame) with one row of each display found past the first page.
@pytest.mark.usefixtures("ritmo")
@pytest.mark.parametrize("alvo, item, value, item_id, shown, rows, load_more", [
    (alvo, *row) for alvo in ("pagina", "dialogo") for row in ROWS_BY_ID
] + [("quadro_principal", *ROWS_BY_ID[i]) for i in (1, 4)], indirect=["alvo"])
def test_row_found_on_its_page_and_popup_closed(alvo, run, quiet, item, value, item_id, shown, rows, load_more):
    run(alvo.evaluate(INSTRUMENT))
    assert run(vc.fCtApexPreencPopupLovId(alvo, "#" + item, value)) is None
    st = state(run, alvo, item)
    assert (st["value"], st["display"]) == (item_id, shown)
    assert st["calls"] == [[item, item_id, shown, False]]
    assert st["rows"] == rows and run(alvo.evaluate("window.__loadMore")) == load_more
    assert st["lovClicks"] == 1
    assert st["open"] == [] and st["overlays"] == 0


@pytest.mark.usefixtures("ritmo")
def test_popup_closed_even_when_focus_left_it(form, run, quiet):
    # a change handler that moves focus out of the dialog: Escape then reaches nothing
    run(form.evaluate("""() => document.getElementById('P1_PROFISSAO')
      .addEventListener('change', () => document.getElementById('P1_NOME').focus())"""))
    run(vc.fCtApexPreencPopupLovId(form, PROF, "105"))
    st = state(run, form, "P1_PROFISSAO")
    assert st["value"] == "105" and st["open"] == [] and st["overlays"] == 0


@pytest.mark.usefixtures("ritmo")
def test_absent_row_three_attempts_then_not_found(form, run, debug_log):
    run(form.evaluate(INSTRUMENT))
    with pytest.raises(Exception) as info:
        run(vc.fCtApexPreencPopupLovId(form, PROF, "999"))
    assert type(info.value) is Exception and str(info.value) == NOT_FOUND_999
    st = state(run, form, "P1_PROFISSAO")
    # each attempt found the popup closed and opened it again; the search stopped at the
    # disabled load-more button of the last page instead of pressing it fifteen times
    assert st["lovClicks"] == 3 and run(form.evaluate("window.__loadMore")) == 2
    assert st["open"] == [] and st["overlays"] == 0
    assert st["calls"] == [] and st["value"] == ""
    error = ("fCtApexPreencPopupLovId -> Error " + NOT_FOUND_999 +
             " | Campo: P1_PROFISSAO | Valor procurado: 999")
    assert debug_log.messages("ERROR") == [error] * 3
    assert [m for m in debug_log.messages("WARNING") if m.startswith("fCtRetry")] == [
        f"fCtRetry -> [RETRY {k}/3] erro: {NOT_FOUND_999}" for k in (1, 2, 3)]


@pytest.mark.usefixtures("ritmo")
def test_two_popup_lovs_in_a_row_each_closed_nothing_blocks(form, run, quiet):
    run(form.evaluate(INSTRUMENT))
    run(vc.fCtApexPreencPopupLovId(form, PROF, "105"))
    first = state(run, form, "P1_PROFISSAO")
    assert first["open"] == [] and first["overlays"] == 0
    # the first popup's dialog stays in the page, hidden, ahead of the second one
    run(vc.fCtApexPreencPopupLovId(form, "#P1_BANCO", "3"))
    second = state(run, form, "P1_BANCO")
    assert (second["value"], second["display"]) == ("3", "Caixa Serrana")
    assert second["open"] == [] and second["overlays"] == 0
    assert run(form.evaluate("document.querySelectorAll('.ui-dialog-popuplov').length")) == 2
    run(form.click("#P1_NOME", timeout=2000))  # a real click reaches the form again
    assert (state(run, form, "P1_PROFISSAO")["value"], second["lovClicks"]) == ("105", 1)


@pytest.mark.usefixtures("ritmo")
def test_unknown_item_is_not_set_even_when_its_row_is_there(form, run, quiet):
    # A LOV button for an item APEX does not know: it opens the profession popup.
    run(form.evaluate("""() => {
      const b = document.createElement('button');
      b.id = 'P1_FANTASMA_lov_btn';
      b.type = 'button';
      b.textContent = '...';
      b.addEventListener('click', () => document.getElementById('P1_PROFISSAO_lov_btn').click());
      document.getElementById('P1_NOME').after(b);
    }"""))
    with pytest.raises(Exception, match='Item com data-id="105" nao encontrado'):
        run(vc.fCtApexPreencPopupLovId(form, "#P1_FANTASMA", "105"))
    st = state(run, form, "P1_PROFISSAO")
    assert st["calls"] == [] and st["value"] == "" and st["open"] == []


def test_screened_value_leaves_the_page_untouched_and_warns(form, run, debug_log):
    run(vc.fCtApexPreencPopupLovId(form, PROF, 0.0))
    assert run(form.evaluate("__zv.events.length")) == 0
    assert debug_log.messages("WARNING") == [
        "fCtApexPreencPopupLovId -> Valor incorreto / Pular: campo='#P1_PROFISSAO' | valor=0.0"]


def wait_page(run, page, expr, timeout=10000):
    run(page.wait_for_function(expr, timeout=timeout))


def start(run, coro):
    async def make():
        return asyncio.ensure_future(coro)
    return run(make())


def assert_cancelled(run, task):
    task.cancel()
    with pytest.raises(asyncio.CancelledError):
        run(task)
    assert task.cancelled()


def assert_page_usable(run, page):
    assert run(page.evaluate("1 + 1")) == 2
    run(page.keyboard.press("Escape"))  # focus is in the popup's search field: Escape closes it
    assert state(run, page)["open"] == [] and state(run, page)["overlays"] == 0
    run(vc.fCtPreencText(page, "#P1_NOME", "Ana"))
    assert run(page.evaluate("__zv.value('P1_NOME')")) == "Ana"
    run(page.click("#P1_NOME", timeout=2000))


@pytest.mark.usefixtures("ritmo")
def test_cancelled_while_the_popup_renders(form, run, quiet):
    run(form.evaluate(INSTRUMENT))
    task = start(run, vc.fCtApexPreencPopupLovId(form, PROF, "145"))
    wait_page(run, form, "document.querySelector('.ui-dialog-popuplov:not([style*=\"none\"])') !== null")
    assert_cancelled(run, task)
    assert state(run, form, "P1_PROFISSAO")["lovClicks"] == 1  # no further attempt
    assert_page_usable(run, form)


# Keeps every popup open while window.__holdOpen is true: Escape and the close buttons do
# nothing, so a fill's close wait lasts until its limit.
HOLD_OPEN = """() => {
  window.__holdOpen = true;
  const stop = (e) => { if (window.__holdOpen) e.stopImmediatePropagation(); };
  document.addEventListener('keydown', (e) => { if (e.key === 'Escape') stop(e); }, true);
  document.addEventListener('click', (e) => {
    if (e.target.closest && e.target.closest('.ui-dialog-titlebar-close')) stop(e);
  }, true);
}"""


@pytest.mark.usefixtures("ritmo")
def test_cancelled_while_waiting_for_the_popup_to_close(form, run, quiet):
    run(form.evaluate(INSTRUMENT))
    run(form.evaluate(HOLD_OPEN))
    task = start(run, vc.fCtApexPreencPopupLovId(form, PROF, "105"))
    wait_page(run, form, "__zv.calls.some((c) => c.item === 'P1_PROFISSAO')")
    assert_cancelled(run, task)
    st = state(run, form, "P1_PROFISSAO")
    # the cancellation went straight through the close wait: the popup is as it was, open
    assert st["open"] == ["PopupLov_1_P1_PROFISSAO_dlg"] and st["lovClicks"] == 1
    assert st["value"] == "105"
    run(form.evaluate("window.__holdOpen = false"))
    assert_page_usable(run, form)


# ------------------------------------------------------------------ fill by description

def open_popup(run, page, item="P1_PROFISSAO", rows=20):
    run(page.click(f"#{item}_lov_btn"))
    wait_page(run, page, f"""document.querySelectorAll(
        '#PopupLov_1_{item}_dlg :is(.a-IconList-item, tr.a-GV-row[data-id])').length === {rows}""")



@pytest.mark.parametrize("item, value, display, item_id, shown", [
    ("P1_PROFISSAO", "ENGENHEIRO", None, "101", "Engenheiro"),
    ("P1_PROFISSAO", "xyz", "mÉdIcO", "103", "Médico"),
    ("P1_PROFISSAO", 105, None, "105", "Advogado"),            # a number given without a display text
    ("P1_PROFISSAO", "104", None, "104", "Enfermeira"),
    # grid display: the display column's text matches, the whole row's would not
    ("P1_AGENCIA", "curitiba SUL", None, "318", "Curitiba Sul"),
    ("P1_AGENCIA", "x", "Braga Norte", "307", "Braga Norte"),
    ("P1_AGENCIA", "312", None, "312", "Coimbra Norte"),
])
def test_desc_matches_text_in_any_letter_case_or_the_id(form, run, quiet, item, value, display, item_id, shown):
    open_popup(run, form, item)
    run(vc.fCtApexPreencPopupLovDesc(form, "#" + item, value, display))
    st = state(run, form, item)
    assert (st["value"], st["display"]) == (item_id, shown)
    assert st["calls"] == [[item, item_id, shown, False]]


@pytest.mark.parametrize("value", ["Agência", "Agência Código", "Curitiba Sul1119"])
def test_desc_never_takes_the_header_row_nor_a_whole_rows_text(form, run, quiet, value):
    open_popup(run, form, "P1_AGENCIA")
    with pytest.raises(Exception, match="Item nao encontrado"):
        run(vc.fCtApexPreencPopupLovDesc(form, "#P1_AGENCIA", value))
    assert state(run, form, "P1_AGENCIA")["calls"] == []


def test_desc_unknown_item_is_an_error_not_a_silent_success(form, run, quiet):
    open_popup(run, form)
    with pytest.raises(Exception) as info:
        run(vc.fCtApexPreencPopupLovDesc(form, "#P1_NAOEXISTE", "Engenheiro"))
    assert str(info.value) == "fCtApexPreencPopupLovDesc -> apex.item nao encontrado para: P1_NAOEXISTE"
    assert state(run, form, "P1_PROFISSAO")["calls"] == []


def test_desc_rows_of_a_popup_never_opened_are_not_there(form, run, quiet):
    with pytest.raises(Exception) as info:
        run(vc.fCtApexPreencPopupLovDesc(form, PROF, "Engenheiro"))
    assert str(info.value) == ('fCtApexPreencPopupLovDesc -> Item nao encontrado: '
                               'val="Engenheiro", disp="Engenheiro"')


# Two popups sharing a display text under different ids: the bank popup, opened and closed
# first, keeps its dialog hidden ahead of the profession popup's, and one of its rows gets a
# profession's text.
SHARED_TEXT = """() => {
  const row = document.querySelector('#PopupLov_1_P1_BANCO_dlg .a-IconList-item[data-id="1"]');
  row.textContent = 'Engenheiro';
}"""


@pytest.mark.parametrize("profession_open", [True, False])
def test_desc_takes_the_row_of_its_own_popup_not_of_another(form, run, quiet, profession_open):
    open_popup(run, form, "P1_BANCO", 8)
    run(form.keyboard.press("Escape"))
    run(form.evaluate(SHARED_TEXT))
    open_popup(run, form, "P1_PROFISSAO")
    if not profession_open:  # closed again: its dialog stays in the page, hidden, with its rows
        run(form.keyboard.press("Escape"))
    run(vc.fCtApexPreencPopupLovDesc(form, PROF, "Engenheiro"))
    assert state(run, form, "P1_PROFISSAO")["calls"] == [["P1_PROFISSAO", "101", "Engenheiro", False]]
    with pytest.raises(Exception, match="Item nao encontrado"):  # a bank's name is no profession
        run(vc.fCtApexPreencPopupLovDesc(form, PROF, "Banco Litoral"))
    run(vc.fCtApexPreencPopupLovDesc(form, "#P1_BANCO", "Engenheiro"))
    assert state(run, form, "P1_BANCO")["calls"] == [["P1_BANCO", "1", "Engenheiro", False]]


# ------------------------------------------------------------------ the row-search script

LOV_ID_JS = (ROOT / "native" / "vexocontrole" / "scripts" / "lov_id.js").read_text(encoding="utf-8")

# Two dialogs (an earlier one kept hidden, the open one) with one row per loaded page;
# timers fire at once but keep their requested delays in __delays.
SEARCH_PAGE = """
<div class="ui-dialog" id="old" style="display:none">
  <div class="ui-dialog-titlebar"><button class="ui-dialog-titlebar-close" id="old_close">x</button></div>
  <div class="a-PopupLOV-dialog ui-dialog-content">
    <ul><li class="a-IconList-item" data-id="old7">Velho</li></ul>
    <button class="js-load a-GV-loadMoreButton" id="old_more">More</button>
  </div>
</div>
<div class="ui-dialog" id="cur">
  <div class="ui-dialog-titlebar"><button class="ui-dialog-titlebar-close" id="cur_close">x</button></div>
  <div class="a-PopupLOV-dialog ui-dialog-content">
    <ul id="list"></ul>
    <button class="js-load a-GV-loadMoreButton" id="more">More</button>
  </div>
</div>
<input id="P1_X">
<script>
  window.__delays = []; window.__set = []; window.__clicks = {}; window.__changes = 0;
  const realTimeout = window.setTimeout;
  window.setTimeout = (fn, ms) => { window.__delays.push(ms); return realTimeout(fn, 0); };
  window.apex = { item: (id) => {
    const node = document.getElementById(id) || false;
    return { node, id: node ? id : false, setValue(v, d) { if (node) window.__set.push([id, v, d]); } };
  } };
  document.getElementById('P1_X').addEventListener('change', () => { window.__changes += 1; });
  document.addEventListener('click', (e) => {
    window.__clicks[e.target.id] = (window.__clicks[e.target.id] || 0) + 1;
  }, true);
  let loaded = 0;
  window.setup = (pages) => {
    const more = document.getElementById('more');
    const add = () => {
      loaded += 1;
      const li = document.createElement('li');
      li.className = 'a-IconList-item';
      li.dataset.id = 'r' + loaded;
      li.textContent = '  Linha ' + loaded + ' ';
      document.getElementById('list').appendChild(li);
      more.disabled = loaded >= pages;
    };
    more.addEventListener('click', add);
    add();
  };
</script>
"""


@pytest.fixture
def search_page(browser, run):
    pg = run(browser.new_page())
    run(pg.set_content(SEARCH_PAGE))
    yield pg
    run(pg.close())


def search(run, page, pages, val, item="P1_X"):
    run(page.evaluate("(n) => setup(n)", pages))
    result = run(page.evaluate(LOV_ID_JS, [item, val, "button.js-load.a-GV-loadMoreButton"]))
    facts = run(page.evaluate("({delays: __delays, set: __set, clicks: __clicks, changes: __changes})"))
    return result, facts


@pytest.mark.parametrize("pages, val, found, clicks", [
    (20, "r15", True, 14),   # loaded by the fourteenth click: found in the fifteenth scan
    (20, "r16", False, 15),  # loaded by the fifteenth click: never scanned
    (3, "r9", False, 2),     # the button is disabled on the last page: the search stops there
    (20, "old7", False, 15),  # rows of a hidden, earlier dialog are not searched
])
def test_search_scans_at_most_fifteen_pages_of_the_open_dialog(search_page, run, pages, val, found, clicks):
    result, facts = search(run, search_page, pages, val)
    if found:
        assert result == {"success": True, "foundId": val, "foundDisp": "Linha 15"}
        assert facts["set"] == [["P1_X", val, "Linha 15"]] and facts["changes"] == 1
    else:
        assert result == {"success": False, "error": f'Item com data-id="{val}" nao encontrado'}
        assert facts["set"] == [] and facts["changes"] == 0
    assert facts["clicks"].get("more", 0) == clicks and "old_more" not in facts["clicks"]
    assert facts["delays"] == [500] * clicks


def test_search_passes_over_rows_when_apex_does_not_know_the_item(search_page, run):
    result, facts = search(run, search_page, 3, "r1", item="P1_NADA")
    assert result == {"success": False, "error": 'Item com data-id="r1" nao encontrado'}
    assert facts["set"] == [] and facts["clicks"].get("more") == 2


def test_search_without_an_open_dialog_covers_the_whole_document(search_page, run):
    run(search_page.evaluate("document.getElementById('cur').style.display = 'none'"))
    result, facts = search(run, search_page, 1, "old7")
    assert result["success"] is True and result["foundId"] == "old7"


@pytest.mark.parametrize("val", ["0", " null ", ""])
def test_search_given_an_invalid_value_closes_the_open_dialog(search_page, run, val):
    result, facts = search(run, search_page, 1, val)
    assert result == {"success": True, "skipped": True}
    assert facts["clicks"] == {"cur_close": 1} and facts["set"] == []


LOV_DESC_JS = (ROOT / "native" / "vexocontrole" / "scripts" / "lov_desc.js").read_text(encoding="utf-8")

# Dialogs without APEX's ids: one kept hidden, one open; the same text under two ids.
DESC_PAGE = """
<div class="ui-dialog" id="old" style="display:none"><div class="a-PopupLOV-dialog ui-dialog-content">
  <ul><li class="a-IconList-item" data-id="A">Mesmo</li><li class="a-IconList-item" data-id="S">So velho</li></ul>
</div></div>
<div class="ui-dialog" id="cur"><div class="a-PopupLOV-dialog ui-dialog-content">
  <ul><li class="a-IconList-item" data-id="B">Mesmo</li></ul>
</div></div>
<input id="P1_X">
<script>
  window.__set = [];
  window.apex = { item: (id) => ({ node: document.getElementById(id) || false,
                                   setValue(v, d) { window.__set.push([v, d]); } }) };
</script>
"""


@pytest.mark.parametrize("close_current, val, found", [
    (False, "Mesmo", "B"),       # no dialog of the item's own: the one open now
    (False, "So velho", None),   # ... whose rows are the only ones searched
    (True, "Mesmo", "A"),        # none open either: the whole document, as before
])
def test_desc_script_without_the_items_own_dialog(browser, run, close_current, val, found):
    page = run(browser.new_page())
    try:
        run(page.set_content(DESC_PAGE))
        if close_current:
            run(page.evaluate("document.getElementById('cur').style.display = 'none'"))
        result = run(page.evaluate(LOV_DESC_JS, ["P1_X", val, val]))
        assert result.get("foundId") == found and result["success"] is (found is not None)
    finally:
        run(page.close())
