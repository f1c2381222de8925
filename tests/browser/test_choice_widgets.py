"""Radio groups, check box groups, date pickers, select lists and multi-selects filled in
real Chromium on the stand-in APEX page, asserted through what the page recorded: which
setValue calls APEX received, which DOM events fired, which options end up selected."""
import asyncio
import pathlib
import sys

import pytest
from playwright.async_api import Error as PlaywrightError
from playwright.async_api import TimeoutError as PlaywrightTimeout

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from fakepage import RecordingLogger  # noqa: E402
from pagefaults import Faulty, at  # noqa: E402
from ziveviver import vexocontrole  # noqa: E402

FORM_URL = (pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo" / "form.html").as_uri()


@pytest.fixture(scope="module")
def tab(browser, loop):
    page = loop.run_until_complete(browser.new_page())
    yield page
    loop.run_until_complete(page.close())


def load(run, tab, query=""):
    run(tab.goto(FORM_URL + query))
    run(tab.wait_for_function("window.__zv && window.__zv.ready === true"))
    return tab


@pytest.fixture
def form(tab, run):
    """A freshly loaded form, in one tab per module (a new tab costs several page loads)."""
    return load(run, tab)


@pytest.fixture
def noapex(tab, run):
    """The same form without window.apex."""
    return load(run, tab, "?noapex=1")


@pytest.fixture
def log():
    """Debug on with a recording logger; the module state is put back afterwards."""
    saved = vexocontrole.gDebugDev, vexocontrole.objfLog
    lg = RecordingLogger()
    vexocontrole.gDebugDev = True
    vexocontrole.objfLog = lg
    yield lg
    vexocontrole.gDebugDev, vexocontrole.objfLog = saved


def seen(run, page):
    """What the page recorded since its last reset: setValue calls as (item, value),
    DOM events as (target, type, native), dynamic-action runs by item."""
    rec = run(page.evaluate("({calls: __zv.calls, events: __zv.events, da: __zv.da})"))
    return (
        [(c["item"], c["args"][0]) for c in rec["calls"]],
        [(e["target"], e["type"], e["native"]) for e in rec["events"]],
        [d["item"] for d in rec["da"]],
    )


def value(run, page, item):
    return run(page.evaluate("(id) => __zv.value(id)", item))


def reset(run, page):
    run(page.evaluate("__zv.reset()"))


def cancelled_during(run, page, when, fill):
    """Runs fill(page) as a task and cancels it while the page operation `when` picks is under
    way; True when the task ended cancelled (False when it swallowed the cancellation and
    finished)."""

    async def go():
        async def cancel():
            task.cancel()

        faulty = Faulty(page, when, cancel, during=True)
        task = asyncio.ensure_future(fill(faulty))
        try:
            await task
        except asyncio.CancelledError:
            pass
        assert faulty.fired, faulty.ops
        return task.cancelled()

    return run(go())


# ---------------------------------------------------------------- radio group


class TestRadio:
    def test_label_way_clicks_like_a_user(self, form, run, log):
        reset(run, form)
        run(vexocontrole.fCtPreencCheckRadio(form, "#P1_SEXO", 0))
        calls, events, da = seen(run, form)
        assert value(run, form, "P1_SEXO") == "M"
        assert calls == []  # the click itself tells APEX, through the change event
        assert ("P1_SEXO_0", "click", True) in events and ("P1_SEXO_0", "change", True) in events
        assert da == ["P1_SEXO"]
        assert log.messages("info") == ["fCtPreencCheckRadio -> Radio selecionado: #P1_SEXO_0"]

    def test_trimmed_value_and_the_selected_option_kept(self, form, run, log):
        run(vexocontrole.fCtPreencCheckRadio(form, "#P1_SEXO", " 1 "))
        assert value(run, form, "P1_SEXO") == "F"
        assert run(form.evaluate("document.querySelectorAll('#P1_SEXO input:checked').length")) == 1

    def test_hidden_label_goes_the_script_way(self, form, run, log):
        reset(run, form)
        run(vexocontrole.fCtPreencCheckRadio(form, "#P1_SEXO", 2))
        calls, events, da = seen(run, form)
        assert value(run, form, "P1_SEXO") == "O"
        assert calls == [("P1_SEXO", "O")]
        assert events == [
            ("P1_SEXO_2", "change", True),
            ("P1_SEXO_2", "click", True),
            ("P1_SEXO", "change", False),  # setValue's own change
        ]
        # The dispatched change and setValue's change both reach the item's action.
        assert da == ["P1_SEXO", "P1_SEXO"]
        assert log.messages("warning")[-1] == (
            "fCtPreencCheckRadio -> Saida 4 except Exception pass ---------------------------"
        )
        assert log.messages("info") == ["fCtPreencCheckRadio -> Radio selecionado via JS: #P1_SEXO_2"]

    def test_disabled_option_is_left_alone(self, form, run, log):
        reset(run, form)
        run(vexocontrole.fCtPreencCheckRadio(form, "#P1_SEXO", 3))
        assert seen(run, form) == ([], [], [])
        assert value(run, form, "P1_SEXO") == "F"
        assert log.messages("warning")[-2:] == [
            "fCtPreencCheckRadio -> Radio desabilitado: #P1_SEXO_3",
            "fCtPreencCheckRadio -> Saida 2 ---------------------------",
        ]

    def test_missing_option_raises_after_three_attempts(self, form, run, log):
        with pytest.raises(PlaywrightTimeout):
            run(vexocontrole.fCtPreencCheckRadio(form, "#P1_SEXO", "F", 200))
        retries = [m for m in log.messages("warning") if "RETRY" in m]
        assert [m.split("]")[0] for m in retries] == [
            "fCtRetry -> [RETRY 1/3", "fCtRetry -> [RETRY 2/3", "fCtRetry -> [RETRY 3/3",
        ]
        assert value(run, form, "P1_SEXO") == "F"

    def test_cancelled_during_the_label_wait(self, form, run, log):
        reset(run, form)
        fill = lambda page: vexocontrole.fCtPreencCheckRadio(page, "#P1_SEXO", 2)  # noqa: E731
        assert cancelled_during(run, form, at("wait_for"), fill) is True
        assert seen(run, form)[0] == []  # the script way never ran
        assert value(run, form, "P1_SEXO") == "F"
        assert not any("Saida 4" in m or "RETRY" in m for m in log.messages())


# ---------------------------------------------------------------- check box group


class TestCheckBoxes:
    def test_ticked_box_stays_ticked(self, form, run, log):
        reset(run, form)
        assert value(run, form, "P1_CANAIS") == ["EMAIL"]
        run(vexocontrole.fCtPreencCheckMultiple(form, "#P1_CANAIS", 0))
        calls, events, da = seen(run, form)
        assert value(run, form, "P1_CANAIS") == ["EMAIL"]
        assert calls == [] and da == []
        assert not any(t == "click" for _, t, _ in events)
        assert log.messages("info") == ["fCtPreencCheckRadio -> Radio selecionado: #P1_CANAIS_0"]
        assert log.messages("warning")[-1] == "fCtPreencCheckRadio -> Saida 3 ---------------------------"

    def test_boxes_add_up_and_a_second_run_changes_nothing(self, form, run, log):
        for _ in range(2):
            run(vexocontrole.fCtPreencCheckMultiple(form, "#P1_CANAIS", 1))
        assert value(run, form, "P1_CANAIS") == ["EMAIL", "SMS"]
        assert log.messages("info") == ["fCtPreencCheckRadio -> Radio selecionado: #P1_CANAIS_1"] * 2

    def test_script_way_keeps_the_other_ticked_boxes(self, form, run, log):
        run(vexocontrole.fCtPreencCheckMultiple(form, "#P1_CANAIS", 1))
        reset(run, form)
        run(vexocontrole.fCtPreencCheckMultiple(form, "#P1_CANAIS", 2))  # hidden label
        calls, _, _ = seen(run, form)
        assert calls == [("P1_CANAIS", ["EMAIL", "SMS", "CARTA"])]
        assert value(run, form, "P1_CANAIS") == ["EMAIL", "SMS", "CARTA"]
        assert log.messages("info")[-1] == "fCtPreencCheckRadio -> Radio selecionado via JS: #P1_CANAIS_2"

    def test_disabled_box_is_left_alone(self, form, run, log):
        reset(run, form)
        run(vexocontrole.fCtPreencCheckMultiple(form, "#P1_CANAIS", 3))
        assert seen(run, form) == ([], [], [])
        assert value(run, form, "P1_CANAIS") == ["EMAIL"]
        assert "fCtPreencCheckRadio -> Radio desabilitado: #P1_CANAIS_3" in log.messages("warning")

    @pytest.mark.parametrize("blank", [None, " "])
    def test_blank_value_touches_nothing(self, form, run, log, blank):
        reset(run, form)
        run(vexocontrole.fCtPreencCheckMultiple(form, "#P1_CANAIS", blank))
        assert seen(run, form) == ([], [], [])
        assert value(run, form, "P1_CANAIS") == ["EMAIL"]


# ---------------------------------------------------------------- date pickers


class TestDatePicker:
    @pytest.mark.parametrize("date", ["15/03/1985", "1985-03-15", " 15/03/1985"])
    def test_new_picker_gets_the_text_through_apex(self, form, run, log, date):
        reset(run, form)
        run(vexocontrole.fCtPreencDatepicker(form, "#P1_DATA_NASC", date))
        calls, events, da = seen(run, form)
        assert calls == [("P1_DATA_NASC", date)]  # unchanged, whatever its format
        assert events == [("P1_DATA_NASC", "change", False)]  # APEX's change only
        assert da == ["P1_DATA_NASC"]
        assert run(form.evaluate("document.getElementById('P1_DATA_NASC_input').value")) == date
        assert log.messages() == ["fCtPreencDatepicker -> Datepicker preenchido: #P1_DATA_NASC"]

    def test_old_picker_read_only_state_is_kept(self, form, run, log):
        run(form.evaluate("document.getElementById('P1_DATA_ADESAO').readOnly = true"))
        reset(run, form)
        run(vexocontrole.fCtPreencDatepicker(form, "#P1_DATA_ADESAO", "01/02/2024"))
        calls, events, _ = seen(run, form)
        assert calls == [("P1_DATA_ADESAO", "01/02/2024")]
        assert events == [("P1_DATA_ADESAO", "change", False)]
        assert value(run, form, "P1_DATA_ADESAO") == "01/02/2024"
        assert run(form.evaluate("document.getElementById('P1_DATA_ADESAO').readOnly")) is True

    def test_without_apex_the_element_gets_value_and_one_change(self, noapex, run, log):
        page = noapex
        run(vexocontrole.fCtPreencDatepicker(page, "#P1_DATA_ADESAO", "01/02/2024"))
        _, events, _ = seen(run, page)
        assert events == [("P1_DATA_ADESAO", "change", True)]
        assert run(page.evaluate("document.getElementById('P1_DATA_ADESAO').value")) == "01/02/2024"

    @pytest.mark.parametrize("query, item, disable, before", [
        ("", "P1_DATA_BLOQ", "", "01/01/2030"),  # the older picker, disabled by the server
        # 22.2+: the browser never finds the a-date-picker element disabled; APEX's item does
        ("", "P1_DATA_NASC", "$s('P1_DATA_NASC', '01/01/1990'); apex.item('P1_DATA_NASC').disable()",
         "01/01/1990"),
        # ... and without APEX, its inner input
        ("?noapex=1", "P1_DATA_NASC",
         "document.getElementById('P1_DATA_NASC_input').value = '01/01/1990';"
         "document.getElementById('P1_DATA_NASC_input').disabled = true", "01/01/1990"),
    ])
    def test_disabled_picker_is_not_written(self, tab, run, log, query, item, disable, before):
        page = load(run, tab, query)
        run(page.evaluate("() => { " + disable + " }"))
        reset(run, page)
        run(vexocontrole.fCtPreencDatepicker(page, "#" + item, "31/12/2031"))
        assert seen(run, page) == ([], [], [])
        assert value(run, page, item) == before
        assert log.messages() == ["fCtPreencDatepicker -> Datepicker desabilitado: #" + item]

    def test_absent_item_logs_one_failure(self, form, run, log):
        run(vexocontrole.fCtPreencDatepicker(form, "#P1_NAO_EXISTE", "01/01/2000", 200))
        assert len(log.messages()) == 1
        assert log.messages("error")[0].startswith(
            "fCtPreencDatepicker -> Falha ao preencher datepicker #P1_NAO_EXISTE: "
        )


# ---------------------------------------------------------------- select lists


class TestSelectList:
    def test_browser_selection_then_the_cascading_list(self, form, run, log):
        reset(run, form)
        run(vexocontrole.fCtApexPreencDropDownList(form, "#P1_PAIS", "PT"))
        calls, events, da = seen(run, form)
        assert calls == []
        assert events[:2] == [("P1_PAIS", "input", True), ("P1_PAIS", "change", True)]
        assert da == ["P1_PAIS"]
        # The dependant list is refilled later: the browser selection waits for its option.
        run(vexocontrole.fCtApexPreencDropDownList(form, "#P1_ESTADO", "POR"))
        assert value(run, form, "P1_PAIS") == "PT" and value(run, form, "P1_ESTADO") == "POR"
        assert log.messages() == [
            "fCtApexPreencDropDownList -> Dropdown selecionado (Playwright): #P1_PAIS",
            "fCtApexPreencDropDownList -> Dropdown selecionado (Playwright): #P1_ESTADO",
        ]

    @pytest.mark.parametrize("prepare, val, after, line", [
        # a disabled option: the browser cannot pick it, APEX can
        ("document.querySelector('#P1_PAIS option[value=PT]').disabled = true", "PT", "PT",
         ("info", "fCtApexPreencDropDownList -> Dropdown selecionado (APEX): #P1_PAIS")),
        # untrimmed: no option carries it, APEX finds none either
        ("", " BR", "",
         ("error", "fCtApexPreencDropDownList -> Valor nao aplicado (APEX): #P1_PAIS | valor:  BR")),
        # without a null option APEX then shows the first option: a real value, not the one asked
        ("$s('P1_PAIS', 'PT'); document.querySelector('#P1_PAIS option[value=\"\"]').remove()", "ZZ", "BR",
         ("error", "fCtApexPreencDropDownList -> Valor nao aplicado (APEX): #P1_PAIS | valor: ZZ")),
    ])
    def test_value_the_browser_cannot_select_goes_to_apex_and_is_read_back(self, form, run, log,
                                                                          prepare, val, after, line):
        run(form.evaluate("() => { " + prepare + " }"))
        reset(run, form)
        run(vexocontrole.fCtApexPreencDropDownList(form, "#P1_PAIS", val))
        calls, events, _ = seen(run, form)
        assert calls == [("P1_PAIS", val)]
        assert not any(native for _, _, native in events)  # the browser selected nothing
        assert value(run, form, "P1_PAIS") == after
        assert log.lines == [line]

    def test_without_apex_the_fallback_does_nothing(self, noapex, run, log):
        page = noapex
        run(vexocontrole.fCtApexPreencDropDownList(page, "#P1_PAIS", "XX"))
        assert run(page.evaluate("document.getElementById('P1_PAIS').value")) == ""
        assert seen(run, page)[0] == []
        assert log.messages() == ["fCtApexPreencDropDownList -> Dropdown selecionado (APEX): #P1_PAIS"]

    def test_disabled_list_is_left_alone(self, form, run, log):
        run(form.evaluate("apex.item('P1_PAIS').disable()"))
        reset(run, form)
        run(vexocontrole.fCtApexPreencDropDownList(form, "#P1_PAIS", "BR"))
        assert seen(run, form) == ([], [], [])
        assert value(run, form, "P1_PAIS") == ""
        assert log.messages() == ["fCtApexPreencDropDownList -> Dropdown desabilitado: #P1_PAIS"]

    def test_cancelled_during_the_browser_selection(self, form, run, log):
        reset(run, form)
        fill = lambda page: vexocontrole.fCtApexPreencDropDownList(page, "#P1_PAIS", "XX")  # noqa: E731
        assert cancelled_during(run, form, at("select_option"), fill) is True
        assert seen(run, form)[0] == []  # no APEX fallback after the cancellation
        assert log.messages() == []


# ---------------------------------------------------------------- multi-select


class TestMultiSelect:
    def test_item_holds_exactly_the_listed_values(self, form, run, log):
        run(vexocontrole.fCtApexPreencMultiSelect(form, "#P1_IDIOMAS", ["EN"]))
        reset(run, form)
        run(vexocontrole.fCtApexPreencMultiSelect(form, "#P1_IDIOMAS", ["PT", "DE"]))
        calls, events, da = seen(run, form)
        assert calls == [("P1_IDIOMAS", ["PT", "DE"])]
        assert events == [("P1_IDIOMAS", "change", False)]
        assert da == ["P1_IDIOMAS"]
        assert value(run, form, "P1_IDIOMAS") == ["PT", "DE"]
        assert run(form.evaluate("__zv.dom('P1_IDIOMAS')")) == ["PT", "DE"]
        assert log.messages() == []

    def test_without_apex_the_error_reaches_the_caller(self, noapex, run, log):
        page = noapex
        with pytest.raises(PlaywrightError, match="apex"):
            run(vexocontrole.fCtApexPreencMultiSelect(page, "#P1_IDIOMAS", ["PT"]))
        assert run(page.evaluate("__zv.dom('P1_IDIOMAS')")) == []

    def test_none_raises_before_the_page(self, form, run, log):
        reset(run, form)
        with pytest.raises(TypeError):
            run(vexocontrole.fCtApexPreencMultiSelect(form, "#P1_IDIOMAS", None))
        assert seen(run, form) == ([], [], [])
