"""The stand-in APEX page itself, driven in real Chromium.

These checks pin the behaviour the fills meet on the page: the placeholder item,
the jQuery-style change of setValue, group option ids, the popup LOV dialog and
its paging, the delayed/lingering busy indicator, the grid row editor and the
page without `apex`.
"""
import pathlib

import pytest
from playwright.async_api import TimeoutError as PlaywrightTimeout

FORM_URL = (pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo" / "form.html").as_uri()

PAGE_ITEMS = {
    "P1_NOME", "P1_OBS", "P1_CIDADE", "P1_DESATIVADO", "P1_SOLEITURA", "P1_SERVIDOR_RO",
    "P1_OCULTO", "P1_SEXO", "P1_CANAIS", "P1_DATA_NASC", "P1_DATA_ADESAO", "P1_DATA_BLOQ",
    "P1_PAIS", "P1_ESTADO", "P1_IDIOMAS", "P1_PROFISSAO", "P1_BANCO", "P1_AGENCIA",
    "P1_ACEITE", "P1_NOVIDADES", "P1_PLANO", "P1_INTERESSES",
    "P1_REP_NOME", "P1_REP_CPF", "P1_REP_NASC", "P1_REP_TIPO", "P1_REP_PROF",
    "P2_TIT_NOME", "P2_TIT_NASC", "P2_TIT_TIPO", "P2_TIT_VINCULO", "P2_TIT_PROF",
    "P3_BEN_NOME", "P3_BEN_PARENTESCO", "P3_BEN_PERC", "P3_BEN_NASC",
}

# Records when .u-Processing spinners are added/removed, in ms from the call,
# and where each one was placed.
WATCH_SPINNERS = """
window.__spins = [];
(() => {
  const t0 = performance.now();
  const where = (n) => {
    const dlg = n.closest('.a-PopupLOV-dialog');
    if (dlg) return dlg.id;
    const prev = n.previousElementSibling;
    return prev ? (prev.id || prev.className) : n.parentNode.id || n.parentNode.tagName;
  };
  new MutationObserver((muts) => {
    const at = performance.now() - t0;
    for (const m of muts) {
      m.addedNodes.forEach((n) => {
        if (n.nodeType === 1 && n.matches('.u-Processing')) window.__spins.push(['add', at, where(n)]);
      });
      m.removedNodes.forEach((n) => {
        if (n.nodeType === 1 && n.matches('.u-Processing')) window.__spins.push(['del', at, '']);
      });
    }
  }).observe(document.body, {childList: true, subtree: true});
})();
"""


@pytest.fixture(scope="module")
def tab(browser, loop):
    page = loop.run_until_complete(browser.new_page())
    yield page
    loop.run_until_complete(page.close())


@pytest.fixture
def form(tab, run):
    """Same contract as conftest's `form` (a freshly loaded form), but one tab per
    module reloaded per test: opening a tab costs about three page loads here."""
    run(tab.goto(FORM_URL))  # the page initialises before its load event
    assert run(tab.evaluate("window.__zv.ready")) is True
    return tab


@pytest.fixture
def js(run):
    """Evaluates a script in a page and returns its result."""
    def _js(page, expr, arg=None):
        return run(page.evaluate(expr, arg))
    return _js


def wait_js(run, page, expr, arg=None, timeout=3000):
    run(page.wait_for_function(expr, arg=arg, timeout=timeout))


def dialog_shown(js, page, item):
    return js(page, """(id) => {
        const c = document.getElementById('PopupLov_1_' + id + '_dlg');
        return !!c && getComputedStyle(c.closest('.ui-dialog')).display !== 'none';
    }""", item)


# ---------------------------------------------------------------- the item registry

class TestItemRegistry:
    def test_every_item_is_registered_and_nothing_else(self, form, js, run):
        # P1_TARDIO is attached a moment after load: wait for it, then nothing else may be there
        wait_js(run, form, "'P1_TARDIO' in __zv.state()")
        assert set(js(form, "Object.keys(__zv.state())")) == PAGE_ITEMS | {"P1_TARDIO"}
        assert set(js(form, "Object.keys(apex.items)")) == PAGE_ITEMS | {"P1_TARDIO"}

    @pytest.mark.parametrize("item", ["NO_SUCH_ITEM", "P1_SEMAPEX"])
    def test_unknown_id_gives_a_placeholder_that_sets_nothing(self, form, js, item):
        before = js(form, "__zv.state()")
        got = js(form, """(id) => {
            document.getElementById('P1_SEMAPEX').value = 'antes';
            __zv.reset();
            const it = apex.item(id);
            it.setValue('X', 'Y');
            $s(id, 'Z');
            return {node: it.node, id: it.id, len: it.element.length, value: it.getValue(),
                    v: $v(id), empty: it.isEmpty(), da: __zv.da, events: __zv.events,
                    calls: __zv.calls, semapex: document.getElementById('P1_SEMAPEX').value};
        }""", item)
        assert got["node"] is False and got["id"] is False and got["len"] == 0
        assert got["value"] == "" and got["v"] == "" and got["empty"] is True
        assert got["da"] == [] and got["events"] == []
        assert got["semapex"] == "antes"
        assert [c["args"][0] for c in got["calls"]] == ["X", "Z"]
        assert all(c["missing"] is True and c["item"] == item for c in got["calls"])
        assert js(form, "__zv.state()") == before

    def test_late_and_hidden_items_turn_up_after_load(self, browser, js, run):
        # The page's timers run on Playwright's fake clock, so "before" cannot race them.
        page = run(browser.new_page())
        try:
            # install lets time flow; pausing a minute ahead (nothing scheduled yet) stops it
            run(page.clock.install(time=1_700_000_000_000))
            run(page.clock.pause_at(1_700_000_060_000))
            run(page.goto(FORM_URL))
            assert js(page, "window.__zv.ready") is True
            before = js(page, """() => ({
                node: apex.item('P1_TARDIO').node, dom: document.getElementById('P1_TARDIO'),
                shown: getComputedStyle(document.getElementById('P1_OCULTO_CONTAINER')).display,
                oculto: apex.item('P1_OCULTO').node.id})""")
            assert before == {"node": False, "dom": None, "shown": "none", "oculto": "P1_OCULTO"}
            run(page.clock.run_for(999))
            assert js(page, "document.getElementById('P1_TARDIO')") is None
            run(page.clock.run_for(1))
            assert run(page.is_visible("#P1_TARDIO")) is True
            assert run(page.is_visible("#P1_OCULTO")) is True
            got = js(page, """() => {
                __zv.reset();
                apex.item('P1_TARDIO').setValue('PROMO10');
                return {node: apex.item('P1_TARDIO').node === document.getElementById('P1_TARDIO'),
                        dom: __zv.dom('P1_TARDIO'), da: __zv.da, inState: 'P1_TARDIO' in __zv.state()};
            }""")
            assert got == {"node": True, "dom": "PROMO10", "inState": True,
                           "da": [{"item": "P1_TARDIO", "type": "change"}]}
        finally:
            run(page.close())


# ---------------------------------------------------------------- change events (jQuery-style)

# item, value, display, value read back by getValue
SET_CASES = [
    ("P1_NOME", "Ana Souza", None, "Ana Souza"),
    ("P1_OBS", "linha 1\nlinha 2", None, "linha 1\nlinha 2"),
    ("P1_SEXO", "M", None, "M"),
    ("P1_CANAIS", ["SMS", "CARTA"], None, ["SMS", "CARTA"]),
    ("P1_PAIS", "PT", None, "PT"),
    ("P1_IDIOMAS", ["PT", "DE"], None, ["PT", "DE"]),
    ("P1_DATA_NASC", "31/12/1999", None, "31/12/1999"),
    ("P1_DATA_ADESAO", "01/02/2024", None, "01/02/2024"),
    ("P1_BANCO", "3", "Banco Litoral", "3"),
    ("P1_SERVIDOR_RO", "M-1", None, "M-1"),
]

# Sets each case on one page, suppressed or not, and records what followed.
SET_ALL = """([cases, suppress]) => {
    const out = {};
    for (const [id, v, d] of cases) {
        __zv.reset();
        apex.item(id).setValue(v, d === null ? undefined : d, suppress);
        out[id] = {da: __zv.da.map((x) => x.item + ':' + x.type),
                   events: __zv.events.filter((e) => e.type === 'change' || e.native)
                       .map((e) => e.target + ':' + e.type + ':' + (e.native ? 'native' : 'jq')),
                   value: __zv.value(id), args: __zv.calls.map((c) => c.args)};
    }
    return out;
}"""


class TestChangeEvents:
    def test_set_value_runs_the_da_once_without_a_native_event(self, form, js):
        cases = [[item, value, display] for item, value, display, _ in SET_CASES]
        got = js(form, SET_ALL, [cases, False])
        assert got == {item: {"da": [f"{item}:change"], "events": [f"{item}:change:jq"],
                              "value": expected, "args": [[value, display, False]]}
                       for item, value, display, expected in SET_CASES}

    def test_suppressed_set_value_runs_nothing(self, form, js):
        cases = [[item, value, display] for item, value, display, _ in SET_CASES]
        got = js(form, SET_ALL, [cases, True])
        assert {k: (v["da"], v["events"]) for k, v in got.items()} == {
            item: ([], []) for item, *_ in SET_CASES}
        assert {k: v["value"] for k, v in got.items()} == {
            item: expected for item, _, _, expected in SET_CASES}

    def test_native_listeners_miss_the_trigger_but_inline_and_ancestors_see_it(self, form, js):
        got = js(form, """() => {
            const node = document.getElementById('P1_NOME');
            const seen = {native: 0, inline: 0, helperOnForm: 0};
            node.addEventListener('change', () => seen.native++);
            node.onchange = () => { seen.inline++; };
            apex.jQuery(document.getElementById('wwvFlowForm')).on('change', () => seen.helperOnForm++);
            $s('P1_NOME', 'Ana');
            return seen;
        }""")
        assert got == {"native": 0, "inline": 1, "helperOnForm": 1}

    def test_helper_handlers_also_run_on_real_dom_events(self, form, js):
        got = js(form, """() => {
            const node = document.getElementById('P1_REP_CPF');
            let n = 0;
            const h = () => { n++; };
            apex.jQuery(node).on('blur', h);
            node.dispatchEvent(new Event('blur'));
            apex.jQuery(node).trigger('blur');
            apex.jQuery(node).off('blur', h);
            node.dispatchEvent(new Event('blur'));
            return n;
        }""")
        assert got == 2

    def test_real_typing_runs_the_da_once(self, form, js, run):
        js(form, "__zv.reset()")
        run(form.fill("#P1_NOME", "Ana"))
        run(form.press("#P1_NOME", "Tab"))
        assert js(form, "__zv.da") == [{"item": "P1_NOME", "type": "change"}]
        native = js(form, "__zv.events.filter((e) => e.target === 'P1_NOME').map((e) => [e.type, e.native])")
        assert ["input", True] in native and ["change", True] in native
        assert ["change", False] not in native

    def test_set_value_followed_by_a_native_change_runs_the_da_twice(self, form, js):
        got = js(form, """() => {
            __zv.reset();
            apex.item('P1_BANCO').setValue('2', 'Banco Boa Vista');
            document.getElementById('P1_BANCO').dispatchEvent(new Event('change', {bubbles: true}));
            return __zv.da.length;
        }""")
        assert got == 2

    def test_group_da_hears_option_changes_by_bubbling(self, form, js, run):
        js(form, "__zv.reset()")
        run(form.click("label[for=P1_SEXO_0]"))
        run(form.click("label[for=P1_CANAIS_1]"))
        assert js(form, "__zv.da") == [
            {"item": "P1_SEXO", "type": "change"}, {"item": "P1_CANAIS", "type": "change"}]
        assert js(form, "[__zv.value('P1_SEXO'), __zv.value('P1_CANAIS')]") == ["M", ["EMAIL", "SMS"]]


# ---------------------------------------------------------------- setValue per item kind

class TestItemKinds:
    def test_single_select_matches_loosely_and_shows_its_first_option_on_no_match(self, form, js):
        got = js(form, """() => {
            const it = apex.item('P1_PAIS');
            const out = [];
            it.setValue(['BR']);                       // loose: ['BR'] == 'BR'
            out.push([it.getValue(), __zv.display('P1_PAIS')]);
            it.setValue('XX');
            out.push([it.getValue(), it.node.selectedIndex, it.isEmpty()]);
            out.push(it.displayValueFor('MZ'));
            // without a null option the first option is a real value, not the one asked for
            it.node.options[0].remove();
            it.setValue('PT');
            it.setValue('XX');
            out.push([it.getValue(), __zv.display('P1_PAIS')]);
            return out;
        }""")
        assert got == [["BR", "Brasil"], ["", 0, True], "Moçambique", ["BR", "Brasil"]]

    def test_multi_select_takes_arrays_and_colon_strings(self, form, js):
        got = js(form, """() => {
            const out = [];
            $s('P1_IDIOMAS', ['EN', 'FR']);
            out.push([$v('P1_IDIOMAS'), __zv.dom('P1_IDIOMAS'), __zv.display('P1_IDIOMAS')]);
            $s('P1_IDIOMAS', 'PT:ES');
            out.push(__zv.value('P1_IDIOMAS'));
            $s('P1_IDIOMAS', "['PT', 'EN']");      // a list's text matches no option
            out.push(__zv.value('P1_IDIOMAS'));
            return out;
        }""")
        assert got == [["EN:FR", ["EN", "FR"], ["Inglês", "Francês"]], ["PT", "ES"], []]

    def test_radio_group_checks_by_value_and_clears_the_rest(self, form, js):
        got = js(form, """() => {
            const it = apex.item('P1_SEXO');
            it.setValue('O');
            const a = [__zv.dom('P1_SEXO'), it.displayValueFor('O'), __zv.display('P1_SEXO')];
            it.setValue('2');                           // a position is not a value
            return [a, __zv.dom('P1_SEXO'), it.getValue()];
        }""")
        assert got == [[["O"], "Outro", "Outro"], [], ""]

    def test_checkbox_group_clears_then_checks_each_value(self, form, js):
        got = js(form, """() => {
            const it = apex.item('P1_CANAIS');
            it.setValue('SMS:TEL');
            const a = [it.getValue(), it.displayValueFor(['EMAIL', 'CARTA'])];
            it.setValue(['CARTA']);
            const b = it.getValue();
            it.setValue('');
            return [a, b, it.getValue(), it.isEmpty()];
        }""")
        assert got == [[["SMS", "TEL"], "E-mail, Carta"], ["CARTA"], [], True]

    def test_new_date_picker_stores_text_verbatim_on_the_inner_input(self, form, js, run):
        got = js(form, """() => {
            __zv.reset();
            $s('P1_DATA_NASC', '1999-12-31');
            return {inner: document.getElementById('P1_DATA_NASC_input').value,
                    el: document.getElementById('P1_DATA_NASC').tagName,
                    events: __zv.events,
                    fmt: apex.item('P1_DATA_NASC').displayValueFor(new Date(2001, 6, 4))};
        }""")
        assert got["inner"] == "1999-12-31"
        assert got["el"] == "A-DATE-PICKER"
        assert got["events"] == [{"target": "P1_DATA_NASC", "type": "change", "native": False}]
        assert got["fmt"] == "04/07/2001"
        # disable() reaches the inner input, but the custom element never looks disabled.
        js(form, "apex.item('P1_DATA_NASC').disable()")
        assert js(form, "apex.item('P1_DATA_NASC').isDisabled()") is True
        assert run(form.is_enabled("#P1_DATA_NASC")) is True
        assert run(form.is_enabled("#P1_DATA_NASC_input")) is False

    def test_new_date_picker_user_input_reaches_the_da(self, form, js, run):
        js(form, "__zv.reset()")
        run(form.fill("#P1_REP_NASC_input", "10/05/1970"))
        run(form.press("#P1_REP_NASC_input", "Tab"))
        assert js(form, "__zv.da") == [{"item": "P1_REP_NASC", "type": "change"}]
        # The calendar button picks a day of the shown month.
        run(form.click("#P1_REP_NASC button.a-Button--calendar"))
        run(form.click(".ui-dialog-datepicker .zv-cal-day >> text='15'"))
        assert js(form, "__zv.value('P1_REP_NASC')") == "15/05/1970"
        assert js(form, "__zv.da.length") == 2
        assert js(form, "document.querySelector('.ui-dialog-datepicker')") is None

    def test_old_date_pickers(self, form, js, run):
        got = js(form, """() => {
            $s('P1_DATA_ADESAO', '05/03/2024');
            return [__zv.dom('P1_DATA_ADESAO'), apex.item('P1_DATA_BLOQ').isDisabled(),
                    apex.item('P1_DATA_ADESAO').isDisabled()];
        }""")
        assert got == ["05/03/2024", True, False]
        assert run(form.is_enabled("#P1_DATA_BLOQ")) is False
        run(form.click("#P1_DATA_ADESAO + .ui-datepicker-trigger"))
        assert run(form.is_visible("#ui-datepicker-div")) is True
        run(form.click("#ui-datepicker-div .zv-cal-day >> text='20'"))
        assert js(form, "__zv.value('P1_DATA_ADESAO')") == "20/03/2024"

    def test_server_read_only_item_is_a_hidden_input_and_a_span(self, form, js, run):
        assert run(form.is_visible("#P1_SERVIDOR_RO")) is False
        assert run(form.inner_text("#P1_SERVIDOR_RO_DISPLAY")) == "M-48213"
        js(form, "$s('P1_SERVIDOR_RO', 'M-7')")
        assert js(form, "[__zv.dom('P1_SERVIDOR_RO'), __zv.display('P1_SERVIDOR_RO')]") == ["M-7", "M-7"]

    def test_readonly_and_disabled_text_fields(self, form, js, run):
        assert run(form.is_editable("#P1_SOLEITURA")) is False
        assert run(form.is_visible("#P1_SOLEITURA")) is True
        assert js(form, "[apex.item('P1_DESATIVADO').isDisabled(), apex.item('P1_SOLEITURA').isDisabled()]") == [True, False]
        # A script still writes both.
        js(form, "$s('P1_SOLEITURA', 'X1'); $s('P1_DESATIVADO', 'X2')")
        assert js(form, "[$v('P1_SOLEITURA'), $v('P1_DESATIVADO')]") == ["X1", "X2"]

    def test_popup_lov_keeps_return_and_display_apart(self, form, js):
        got = js(form, """() => {
            const it = apex.item('P1_BANCO');
            it.setValue('4', 'Banco Litoral');
            return [it.getValue(), __zv.dom('P1_BANCO'), __zv.dom('P1_BANCO_HIDDENVALUE'),
                    __zv.display('P1_BANCO'), it.displayValueFor('4'), it.displayValueFor('5')];
        }""")
        assert got == ["4", "Banco Litoral", "4", "Banco Litoral", "Banco Litoral", "5"]

    def test_popup_lov_asks_for_the_display_value_with_a_delayed_indicator(self, form, js, run):
        js(form, WATCH_SPINNERS + "; apex.item('P1_PROFISSAO').setValue('105')")
        assert js(form, "[__zv.value('P1_PROFISSAO'), __zv.display('P1_PROFISSAO')]") == ["105", ""]
        wait_js(run, form, "__zv.display('P1_PROFISSAO') === 'Advogado'")
        wait_js(run, form, "window.__spins.length === 2")
        (add, t_add, where), (_, t_del, _) = js(form, "window.__spins")
        assert add == "add" and where == "apex-item-group apex-item-group--popup-lov"
        assert t_add >= 190   # shown only once the request outlasts 200 ms
        assert t_del >= 980   # and kept until 1000 ms after the start

    def test_groups_and_popup_lov_disable_every_part(self, form, js):
        got = js(form, """() => {
            const out = {};
            for (const id of ['P1_SEXO', 'P1_CANAIS', 'P1_BANCO']) {
                const it = apex.item(id);
                const before = it.isDisabled();
                it.disable();
                const parts = id === 'P1_BANCO'
                    ? ['P1_BANCO', 'P1_BANCO_HIDDENVALUE', 'P1_BANCO_lov_btn'].map((x) => document.getElementById(x))
                    : Array.from(it.node.querySelectorAll('input'));
                out[id] = [before, it.isDisabled(), parts.every((p) => p.disabled)];
                it.enable();
                out[id].push(it.isDisabled());
            }
            return out;
        }""")
        assert got == {k: [False, True, True, False] for k in ("P1_SEXO", "P1_CANAIS", "P1_BANCO")}

    def test_autocomplete_offers_suggestions(self, form, js, run):
        run(form.click("#P1_CIDADE"))
        run(form.keyboard.type("por"))
        menu = form.locator("ul.ui-autocomplete li.ui-menu-item")
        assert run(menu.all_inner_texts()) == ["Porto", "Porto Alegre"]
        run(menu.nth(1).click())
        assert js(form, "__zv.value('P1_CIDADE')") == "Porto Alegre"
        assert run(form.is_visible("ul.ui-autocomplete")) is False


# ---------------------------------------------------------------- radio / checkbox option ids

GROUPS = {
    "P1_SEXO": (["M", "F", "O", "N"], ["Masculino", "Feminino", "Outro", "Não informar"], [1]),
    "P1_CANAIS": (["EMAIL", "SMS", "CARTA", "TEL"], ["E-mail", "SMS", "Carta", "Telefone"], [0]),
}

GROUP_OPTIONS = """(id) => Array.from(document.getElementById(id).querySelectorAll('input')).map((i) => ({
    id: i.id, value: i.value, display: i.dataset.display, checked: i.checked, disabled: i.disabled,
    label: document.querySelector('label[for=' + i.id + ']').textContent,
}))"""


class TestGroupOptions:
    @pytest.mark.parametrize("item", sorted(GROUPS))
    def test_options_are_numbered_by_position(self, form, js, run, item):
        values, labels, checked = GROUPS[item]
        opts = js(form, GROUP_OPTIONS, item)
        assert [o["id"] for o in opts] == [f"{item}_{n}" for n in range(4)]
        assert [o["value"] for o in opts] == values
        assert [o["display"] for o in opts] == labels == [o["label"] for o in opts]
        assert [n for n, o in enumerate(opts) if o["checked"]] == checked
        assert [n for n, o in enumerate(opts) if o["disabled"]] == [3]
        visible = [run(form.is_visible(f"label[for={item}_{n}]")) for n in range(4)]
        assert visible == [True, True, False, True]
        assert run(form.is_enabled(f"#{item}_3")) is False

    def test_label_click_on_a_checked_box_unchecks_it(self, form, js, run):
        run(form.click("label[for=P1_CANAIS_0]"))
        assert js(form, "__zv.value('P1_CANAIS')") == []

    def test_hidden_label_cannot_be_clicked_but_a_script_sets_the_option(self, form, js, run):
        with pytest.raises(PlaywrightTimeout):
            run(form.click("label[for=P1_SEXO_2]", timeout=300))
        js(form, "$s('P1_SEXO', 'O'); $s('P1_CANAIS', 'EMAIL:CARTA')")
        assert js(form, "[__zv.dom('P1_SEXO'), __zv.dom('P1_CANAIS')]") == [["O"], ["EMAIL", "CARTA"]]


# ---------------------------------------------------------------- popup LOV dialog

# The rows of a popup LOV: list display, and grid display's body rows (the header row has no
# data-id).
LOV_ROWS = "li.a-IconList-item, .a-PopupLOV-results tr.a-GV-row[data-id]"


def open_lov(run, js, page, item, rows):
    run(page.click(f"#{item}_lov_btn"))
    wait_js(run, page, """([id, n, rows]) => document.getElementById('PopupLov_1_' + id + '_dlg')
        && document.getElementById('PopupLov_1_' + id + '_dlg').querySelectorAll(rows).length === n""",
            [item, rows, LOV_ROWS])


def row_ids(js, page, item):
    return js(page, """([id, rows]) => Array.from(document.getElementById('PopupLov_1_' + id + '_dlg')
        .querySelectorAll(rows)).map((r) => r.dataset.id)""", [item, LOV_ROWS])


class TestPopupLov:
    def test_dialog_is_built_on_first_open_with_the_search_focused(self, form, js, run):
        assert js(form, "document.querySelectorAll('.ui-dialog').length") == 0
        js(form, "__zv.lovPageMs = 50")
        open_lov(run, js, form, "P1_PROFISSAO", 20)
        got = js(form, """() => {
            const c = document.getElementById('PopupLov_1_P1_PROFISSAO_dlg');
            const w = c.closest('.ui-dialog');
            return {wrap: w.className, content: c.className,
                    title: w.querySelector('.ui-dialog-titlebar .ui-dialog-title').textContent,
                    closeInWrap: !!w.querySelector('.ui-dialog-titlebar > button.ui-dialog-titlebar-close'),
                    closeInContent: !!c.querySelector('.ui-dialog-titlebar-close'),
                    focused: document.activeElement === c.querySelector('input.a-PopupLOV-search'),
                    overlay: document.querySelectorAll('.ui-widget-overlay').length,
                    expanded: document.getElementById('P1_PROFISSAO').getAttribute('aria-expanded')};
        }""")
        assert "ui-dialog-popuplov" in got["wrap"].split()
        assert {"a-PopupLOV-dialog", "ui-dialog-content"} <= set(got["content"].split())
        assert got["title"] == "Search"
        assert got["closeInWrap"] is True and got["closeInContent"] is False
        assert got["focused"] is True and got["overlay"] == 1 and got["expanded"] == "true"
        assert row_ids(js, form, "P1_PROFISSAO") == [str(n) for n in range(101, 121)]

    @pytest.mark.parametrize("item, first", [("P1_PROFISSAO", 101), ("P1_AGENCIA", 301)])
    def test_load_more_pages_to_the_end_and_then_disables(self, form, js, run, item, first):
        js(form, "__zv.lovPageMs = 50")
        open_lov(run, js, form, item, 20)
        more = f"#PopupLov_1_{item}_dlg div.a-GV-loadMore > button.js-load.a-GV-loadMoreButton"
        assert run(form.inner_text(more)) == "Load More"
        for rows in (40, 60):
            assert run(form.is_enabled(more)) is True
            run(form.click(more))
            wait_js(run, form, """([id, n, rows]) => document.getElementById('PopupLov_1_' + id + '_dlg')
                .querySelectorAll(rows).length === n""", [item, rows, LOV_ROWS])
        assert run(form.is_disabled(more)) is True
        ids = row_ids(js, form, item)
        assert ids == [str(n) for n in range(first, first + 60)]
        texts = js(form, """([id, rows]) => Array.from(document.getElementById('PopupLov_1_' + id + '_dlg')
            .querySelectorAll(rows)).map((r) => r.textContent)""", [item, LOV_ROWS])
        assert len(set(texts)) == 60
        # A click forced on the disabled button fetches nothing more.
        js(form, f"document.querySelector('{more}').click()")
        run(form.wait_for_timeout(150))
        assert len(row_ids(js, form, item)) == 60

    def test_grid_display_rows_have_a_header_cell_and_the_header_row_no_id(self, form, js, run):
        js(form, "__zv.lovPageMs = 50")
        open_lov(run, js, form, "P1_AGENCIA", 20)
        got = js(form, """() => {
            const results = document.querySelector('#PopupLov_1_P1_AGENCIA_dlg .a-PopupLOV-results');
            const rows = Array.from(results.querySelectorAll('tr.a-GV-row'));
            const cells = (tr) => Array.from(tr.cells).map((c) => [c.className, c.textContent]);
            return {count: rows.length, header: [rows[0].hasAttribute('data-id'), rows[0].textContent],
                    first: [rows[1].dataset.id, rows[1].dataset.rownum, cells(rows[1])],
                    list: results.querySelectorAll('.a-IconList-item').length};
        }""")
        assert got["count"] == 21 and got["list"] == 0
        assert got["header"] == [False, "AgênciaCódigo"]
        assert got["first"] == ["301", "1", [["a-GV-cell a-GV-rowHeader", "Belo Horizonte Centro"],
                                             ["a-GV-cell", "1000"]]]
        # a user's click on a row shows the display column only
        run(form.click("#PopupLov_1_P1_AGENCIA_dlg tr.a-GV-row[data-id='307'] td:last-child"))
        assert js(form, "[__zv.value('P1_AGENCIA'), __zv.display('P1_AGENCIA')]") == ["307", "Braga Norte"]
        assert dialog_shown(js, form, "P1_AGENCIA") is False

    def test_page_fetch_shows_the_indicator_inside_the_dialog(self, form, js, run):
        js(form, WATCH_SPINNERS)
        run(form.click("#P1_BANCO_lov_btn"))
        wait_js(run, form, "window.__spins.length === 2")
        (_, t_add, where), (_, t_del, _) = js(form, "window.__spins")
        assert where == "PopupLov_1_P1_BANCO_dlg"
        assert t_add >= 190 and t_del >= 950
        assert row_ids(js, form, "P1_BANCO") == [str(n) for n in range(1, 9)]
        assert run(form.is_disabled("#PopupLov_1_P1_BANCO_dlg .a-GV-loadMoreButton")) is True

    def test_row_click_closes_first_then_sets_both_inputs(self, form, js, run):
        js(form, """() => {
            __zv.lovPageMs = 50;
            window.__openAtChange = [];
            apex.jQuery('#P1_PROFISSAO').on('change', () => {
                const w = document.getElementById('PopupLov_1_P1_PROFISSAO_dlg').closest('.ui-dialog');
                window.__openAtChange.push(getComputedStyle(w).display !== 'none');
            });
        }""")
        open_lov(run, js, form, "P1_PROFISSAO", 20)
        js(form, "__zv.reset()")
        run(form.click("#PopupLov_1_P1_PROFISSAO_dlg li.a-IconList-item[data-id='107']"))
        assert js(form, "window.__openAtChange") == [False]
        assert js(form, "[__zv.value('P1_PROFISSAO'), __zv.dom('P1_PROFISSAO')]") == ["107", "Arquiteto"]
        assert js(form, "__zv.calls") == [{"item": "P1_PROFISSAO", "args": ["107", "Arquiteto", None]}]
        assert js(form, "__zv.da") == [{"item": "P1_PROFISSAO", "type": "change"}]
        assert js(form, "document.querySelectorAll('.ui-widget-overlay').length") == 0

    def test_set_value_leaves_the_dialog_open(self, form, js, run):
        js(form, "__zv.lovPageMs = 50; __zv.lookupMs = 0")
        open_lov(run, js, form, "P1_PROFISSAO", 20)
        js(form, "apex.item('P1_PROFISSAO').setValue('110')")
        run(form.wait_for_timeout(100))
        assert dialog_shown(js, form, "P1_PROFISSAO") is True
        assert js(form, "__zv.value('P1_PROFISSAO')") == "110"
        # No display lookup ran while the popup was open (110 is "Psicólogo").
        assert js(form, "__zv.display('P1_PROFISSAO')") != "Psicólogo"
        # Closed, the same call looks the display value up.
        run(form.keyboard.press("Escape"))
        js(form, "apex.item('P1_PROFISSAO').setValue('110')")
        wait_js(run, form, "__zv.display('P1_PROFISSAO') === 'Psicólogo'")

    def test_closed_dialog_stays_hidden_in_the_page_and_keeps_its_rows(self, form, js, run):
        js(form, "__zv.lovPageMs = 50")
        open_lov(run, js, form, "P1_PROFISSAO", 20)
        run(form.click("#PopupLov_1_P1_PROFISSAO_dlg .a-GV-loadMoreButton"))
        wait_js(run, form, "document.querySelectorAll('#PopupLov_1_P1_PROFISSAO_dlg li').length === 40")
        run(form.click(".ui-dialog-popuplov .ui-dialog-titlebar-close"))
        assert dialog_shown(js, form, "P1_PROFISSAO") is False
        assert len(row_ids(js, form, "P1_PROFISSAO")) == 40
        # Re-open: the rows are there at once and no fetch replaces them.
        js(form, WATCH_SPINNERS)
        run(form.click("#P1_PROFISSAO_lov_btn"))
        assert dialog_shown(js, form, "P1_PROFISSAO") is True
        assert len(row_ids(js, form, "P1_PROFISSAO")) == 40
        run(form.wait_for_timeout(300))
        assert len(row_ids(js, form, "P1_PROFISSAO")) == 40
        assert js(form, "window.__spins") == []
        assert js(form, "document.querySelectorAll('.ui-dialog-popuplov').length") == 1

    def test_hidden_dialog_of_an_earlier_lov_comes_first_in_the_document(self, form, js, run):
        js(form, "__zv.lovPageMs = 50")
        open_lov(run, js, form, "P1_PROFISSAO", 20)
        run(form.keyboard.press("Escape"))
        open_lov(run, js, form, "P1_BANCO", 8)
        first = js(form, """() => {
            const c = document.querySelector('.a-PopupLOV-dialog');
            return [c.id, c.closest('.ui-dialog').style.display];
        }""")
        assert first == ["PopupLov_1_P1_PROFISSAO_dlg", "none"]
        assert dialog_shown(js, form, "P1_BANCO") is True

    def test_escape_closes_only_with_focus_inside(self, form, js, run):
        js(form, "__zv.lovPageMs = 50")
        open_lov(run, js, form, "P1_BANCO", 8)
        js(form, "document.activeElement.blur()")
        run(form.keyboard.press("Escape"))
        assert dialog_shown(js, form, "P1_BANCO") is True
        run(form.click("#PopupLov_1_P1_BANCO_dlg input.a-PopupLOV-search"))
        run(form.keyboard.press("Escape"))
        assert dialog_shown(js, form, "P1_BANCO") is False
        assert js(form, "document.activeElement.id") == "P1_BANCO"

    def test_modal_overlay_blocks_the_page(self, form, js, run):
        js(form, "__zv.lovPageMs = 50")
        open_lov(run, js, form, "P1_BANCO", 8)
        with pytest.raises(PlaywrightTimeout):
            run(form.click("#P1_NOME", timeout=300))
        run(form.click(".ui-dialog-popuplov .ui-dialog-titlebar-close"))
        run(form.click("#P1_NOME", timeout=1000))

    def test_typing_in_the_item_opens_a_filtered_search(self, form, js, run):
        js(form, "__zv.lovPageMs = 50")
        run(form.focus("#P1_REP_PROF"))
        run(form.keyboard.type("quí"))
        wait_js(run, form, "document.querySelectorAll('#PopupLov_1_P1_REP_PROF_dlg li').length === 1")
        assert js(form, "document.querySelector('#PopupLov_1_P1_REP_PROF_dlg .a-PopupLOV-search').value") == "quí"
        assert run(form.inner_text("#PopupLov_1_P1_REP_PROF_dlg li")) == "Química"
        assert js(form, "__zv.dom('P1_REP_PROF')") == ""


# ---------------------------------------------------------------- cascading select

class TestCascade:
    def test_real_change_refreshes_the_child_with_delayed_lingering_indicator(self, form, js, run):
        js(form, WATCH_SPINNERS + "; __zv.reset()")
        run(form.select_option("#P1_PAIS", "PT"))
        assert js(form, "__zv.da") == [{"item": "P1_PAIS", "type": "change"}]
        assert js(form, "Array.from(document.getElementById('P1_ESTADO').options).map((o) => o.value)") == [""]
        wait_js(run, form, "document.getElementById('P1_ESTADO').options.length === 4")
        # the indicator came up before the options arrived (it goes away later, checked below;
        # on a busy machine it may already be gone by the time this is read)
        assert js(form, "window.__spins.map((s) => s[0])")[0] == "add"
        wait_js(run, form, "window.__spins.length === 2")
        (_, t_add, where), (_, t_del, _) = js(form, "window.__spins")
        assert where == "P1_ESTADO"
        assert t_add >= 190 and t_del >= 950
        refresh = js(form, """() => __zv.events.filter((e) => e.type.startsWith('apex'))
            .map((e) => [e.target, e.type, e.native])""")
        assert refresh == [["P1_ESTADO", "apexbeforerefresh", False], ["P1_ESTADO", "apexafterrefresh", False]]
        assert js(form, "[__zv.value('P1_ESTADO'), $s('P1_ESTADO', 'POR'), __zv.display('P1_ESTADO')]") == [
            "", None, "Porto"]

    def test_set_value_on_the_parent_refreshes_too_and_wipes_an_early_child_value(self, form, js, run):
        js(form, "__zv.cascadeMs = 100; $s('P1_PAIS', 'BR'); $s('P1_ESTADO', 'SP')")
        assert js(form, "__zv.value('P1_ESTADO')") == ""
        wait_js(run, form, "document.getElementById('P1_ESTADO').options.length === 5")
        js(form, "$s('P1_ESTADO', 'SP')")
        assert js(form, "__zv.display('P1_ESTADO')") == "São Paulo"

    def test_a_quick_refresh_shows_no_indicator(self, form, js, run):
        js(form, WATCH_SPINNERS + "; __zv.cascadeMs = 80; $s('P1_PAIS', 'AO')")
        wait_js(run, form, "document.getElementById('P1_ESTADO').options.length === 3")
        run(form.wait_for_timeout(250))
        assert js(form, "window.__spins") == []


# ---------------------------------------------------------------- grids

def button_states(js, page, prefix):
    return js(page, "(p) => [document.getElementById(p + '_ADD').disabled, document.getElementById(p + '_SAVE').disabled]", prefix)


class TestGrids:
    def test_add_edit_save_cycle(self, form, js, run):
        assert button_states(js, form, "TIT") == [False, True]
        assert run(form.is_visible("#P2_TIT_NOME")) is False
        run(form.click("#TIT_ADD"))
        # add is disabled at once (save comes on with the row editor, which may already be up)
        assert button_states(js, form, "TIT")[0] is True
        run(form.wait_for_selector("#P2_TIT_NOME", state="visible", timeout=2000))
        assert button_states(js, form, "TIT") == [True, False]
        js(form, """() => {
            $s('P2_TIT_NOME', 'Ana Souza');
            $s('P2_TIT_NASC', '02/03/1980');
            $s('P2_TIT_TIPO', 'PRI');
            $s('P2_TIT_VINCULO', 'EMP:DEP');
            $s('P2_TIT_PROF', '102', 'Professora');
        }""")
        run(form.click("#TIT_SAVE"))
        assert button_states(js, form, "TIT") == [True, True]
        assert js(form, "document.querySelectorAll('#R_TITULARES .u-Processing').length") == 1
        run(form.wait_for_selector("#P2_TIT_NOME", state="hidden", timeout=2000))
        assert js(form, "document.querySelectorAll('#R_TITULARES .u-Processing').length") == 0
        assert button_states(js, form, "TIT") == [False, True]
        assert js(form, "__zv.saved.titulares") == [{
            "P2_TIT_NOME": "Ana Souza", "P2_TIT_NASC": "02/03/1980", "P2_TIT_TIPO": "PRI",
            "P2_TIT_VINCULO": ["EMP", "DEP"], "P2_TIT_PROF": "102"}]
        assert run(form.locator("#TIT_ROWS tr td").all_inner_texts()) == [
            "Ana Souza", "02/03/1980", "Principal", "Empregado, Dependente", "Professora"]
        cleared = js(form, "['P2_TIT_NOME', 'P2_TIT_VINCULO', 'P2_TIT_PROF'].map((i) => __zv.value(i))")
        assert cleared == ["", [], ""]
        assert js(form, "__zv.dom('P2_TIT_PROF')") == ""

    def test_second_row_starts_empty_and_is_saved_apart(self, form, js, run):
        for name, perc in (("Bruno", "60"), ("Carla", "40")):
            js(form, "$s('P3_BEN_NOME', 'resto'); $s('P3_BEN_PERC', '1')")  # stale values
            run(form.click("#BEN_ADD"))
            run(form.wait_for_selector("#P3_BEN_NOME", state="visible", timeout=2000))
            assert js(form, "['P3_BEN_NOME', 'P3_BEN_PERC'].map((i) => __zv.value(i))") == ["", ""]
            run(form.fill("#P3_BEN_NOME", name))
            run(form.fill("#P3_BEN_PERC", perc))
            run(form.select_option("#P3_BEN_PARENTESCO", "FILHO"))
            run(form.click("#BEN_SAVE"))
            run(form.wait_for_selector("#P3_BEN_NOME", state="hidden", timeout=2000))
        saved = js(form, "__zv.saved.beneficiarios")
        assert [(r["P3_BEN_NOME"], r["P3_BEN_PERC"], r["P3_BEN_PARENTESCO"]) for r in saved] == [
            ("Bruno", "60", "FILHO"), ("Carla", "40", "FILHO")]
        assert run(form.locator("#BEN_ROWS tr").count()) == 2
        assert js(form, "__zv.saved.titulares") == []

    def test_blocked_add_stays_disabled(self, form, js, run):
        js(form, "__zv.blockAdd('BEN', true)")
        assert button_states(js, form, "BEN") == [True, True]
        with pytest.raises(PlaywrightTimeout):
            run(form.click("#BEN_ADD", timeout=300))
        assert run(form.is_visible("#P3_BEN_NOME")) is False
        js(form, "__zv.blockAdd('BEN', false)")
        assert button_states(js, form, "BEN") == [False, True]
        assert button_states(js, form, "TIT") == [False, True]


# ---------------------------------------------------------------- test API and ?noapex=1

class TestApiAndNoApex:
    def test_busy_and_reset(self, form, js, run):
        # counted in the same script: a slow round trip could outlast the 300 ms
        assert js(form, """() => { __zv.busy(300); $s('P1_NOME', 'x');
            return document.querySelectorAll('.u-Processing').length; }""") == 1
        assert js(form, "[__zv.calls.length, __zv.events.length, __zv.da.length]") == [1, 1, 1]
        js(form, "__zv.reset()")
        assert js(form, "[__zv.calls.length, __zv.events.length, __zv.da.length]") == [0, 0, 0]
        wait_js(run, form, "document.querySelectorAll('.u-Processing').length === 0", timeout=1000)

    @pytest.mark.parametrize("start, answered", [
        ("__zv.request(400)", "__zv.requestsDone.length === 1"),
        ("$s('P1_PAIS', 'PT')", "document.getElementById('P1_ESTADO').options.length === 4"),
        ("$s('P1_BANCO', '3')", "__zv.display('P1_BANCO') === 'Caixa Serrana'"),
        ("document.getElementById('P1_BANCO_lov_btn').click()",
         "document.querySelectorAll('#PopupLov_1_P1_BANCO_dlg li').length === 8"),
    ])
    def test_server_calls_are_in_flight_until_answered(self, form, js, run, start, answered):
        # started and read in one script: the count is there at once, the indicator is not
        assert js(form, "() => { " + start + "; return [apex.jQuery.active, "
                  "document.querySelectorAll('.u-Processing').length]; }") == [1, 0]
        wait_js(run, form, "apex.jQuery.active === 0")
        assert js(form, answered) is True  # the answer was handled before the count went down

    def test_noapex_page_has_no_apex_but_keeps_the_page_working(self, open_form, js, run):
        page = open_form("noapex=1")
        assert js(page, "[typeof apex, typeof $s, typeof $v]") == ["undefined"] * 3
        # P1_TARDIO is attached a moment after load
        wait_js(run, page, "'P1_TARDIO' in __zv.state()")
        assert set(js(page, "Object.keys(__zv.state())")) == PAGE_ITEMS | {"P1_TARDIO"}
        run(page.fill("#P1_NOME", "Ana"))
        run(page.press("#P1_NOME", "Tab"))
        run(page.click("label[for=P1_SEXO_0]"))
        assert js(page, "[__zv.value('P1_NOME'), __zv.value('P1_SEXO')]") == ["Ana", "M"]
        assert js(page, "__zv.da.map((d) => d.item)") == ["P1_NOME", "P1_SEXO"]
        js(page, "__zv.lovPageMs = 50")
        open_lov(run, js, page, "P1_BANCO", 8)
        run(page.click("#PopupLov_1_P1_BANCO_dlg li[data-id='6']"))
        assert js(page, "[__zv.value('P1_BANCO'), __zv.display('P1_BANCO')]") == ["6", "Banco Meridiano"]
