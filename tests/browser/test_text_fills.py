"""Text, text area and autocomplete fills in real Chromium against the stand-in APEX page."""
import sys
import pathlib

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from ziveviver import vexocontrole as vc  # noqa: E402

# Every test runs under both pacings (the "ritmo" fixture).
pytestmark = pytest.mark.usefixtures("ritmo")


def received(run, page, item):
    """What the page saw for one item: setValue calls, DOM events, dynamic-action runs."""
    return run(page.evaluate(
        """id => ({
            calls: __zv.calls.filter(c => c.item === id).map(c => c.args),
            events: __zv.events.filter(e => e.target === id).map(e => e.type + (e.native ? '' : ':jq')),
            da: __zv.da.filter(d => d.item === id).map(d => d.type),
            value: __zv.dom(id),
        })""", item))


@pytest.mark.parametrize("fill, item", [
    (vc.fCtPreencText, "P1_NOME"),
    (vc.fCtPreencTextArea, "P1_OBS"),
    (vc.fCtPreencAutoComplete, "P1_CIDADE"),
])
def test_value_lands_through_apex_with_one_event_each(run, form, log, fill, item):
    run(form.evaluate("__zv.reset()"))
    run(fill(form, "#" + item, "Ção \"d'Ávila\" `${x}`"))
    got = received(run, form, item)
    assert got["calls"] == [["Ção \"d'Ávila\" `${x}`", None, True]]
    assert got["events"] == ["input", "change", "blur"]
    assert got["da"] == ["change"]  # the dynamic action ran once, on the real change
    assert got["value"] == "Ção \"d'Ávila\" `${x}`"
    assert run(form.evaluate(f"__zv.value('{item}')")) == got["value"]
    assert log.lines == [("info", f"fCtPreencText -> Campo preenchido: #{item}")]


def test_read_only_item_is_filled_and_left_writable(run, form, log):
    run(fill_text(form, "#P1_SOLEITURA", 42))
    assert run(form.evaluate("[__zv.dom('P1_SOLEITURA'), document.getElementById('P1_SOLEITURA').readOnly]")) == ["42", False]


def test_disabled_item_is_left_untouched(run, form, log):
    before = run(form.evaluate("__zv.dom('P1_DESATIVADO')"))
    run(form.evaluate("__zv.reset()"))
    run(fill_text(form, "#P1_DESATIVADO", "novo"))
    got = received(run, form, "P1_DESATIVADO")
    assert (got["value"], got["calls"], got["events"]) == (before, [], [])
    assert log.lines == [("warning", "fCtPreencText -> Campo desabilitado: #P1_DESATIVADO")]


def test_page_without_apex_gets_the_dom_value_and_events(run, open_form, log):
    page = open_form("noapex=1")
    assert run(page.evaluate("typeof window.apex")) == "undefined"
    run(fill_text(page, "#P1_NOME", "sem apex"))
    got = received(run, page, "P1_NOME")
    assert got["value"] == "sem apex" and got["calls"] == []
    assert got["events"] == ["input", "change", "blur"]


def test_item_unknown_to_apex_gets_the_dom_value(run, form, log):
    run(fill_text(form, "#P1_SEMAPEX", "solto"))
    got = received(run, form, "P1_SEMAPEX")
    assert got["value"] == "solto"
    assert got["events"] == ["input", "change", "blur"]


def test_late_and_hidden_items_are_waited_for(run, open_form, log):
    page = open_form()
    run(fill_text(page, "#P1_TARDIO", "tarde"))
    run(fill_text(page, "#P1_OCULTO", "visto"))
    assert run(page.evaluate("[__zv.dom('P1_TARDIO'), __zv.dom('P1_OCULTO')]")) == ["tarde", "visto"]
    assert log.messages("error") == []


def test_server_read_only_and_missing_items_end_in_the_error_line(run, form, log):
    run(vc.fCtPreencText(form, "#P1_SERVIDOR_RO", "x", 300))
    run(vc.fCtPreencText(form, "#NAO_EXISTE", "x", 300))
    errors = log.messages("error")
    assert len(errors) == 2
    assert errors[0].startswith("fCtPreencText -> Falha ao preencher #P1_SERVIDOR_RO: ")
    assert errors[1].startswith("fCtPreencText -> Falha ao preencher #NAO_EXISTE: ")
    assert "300" in errors[1]  # Playwright's time-out text names the limit
    assert run(form.evaluate("__zv.dom('P1_SERVIDOR_RO')")) != "x"
    assert log.messages("warning") == []  # one attempt each: no retry lines


def fill_text(page, sel, value):
    return vc.fCtPreencText(page, sel, value)
