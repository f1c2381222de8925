"""APEX 24.2's item types in real Chromium on the stand-in (itens242.js): a Switch and a single
Checkbox filled from true/false, 1/0, S/N, Sim/Não or the item's own values and read back by the
receipt; Select One / Select Many filled as select lists; the pre-flight check and the mapping
take all four; a value that is no on/off value stops with an error naming the field."""
import pytest

from ziveviver import vexoconferencia as cf
from ziveviver import vexocontrole as vc

pytestmark = pytest.mark.usefixtures("ritmo")

MAPA = {
    "ACEITE": {"WebSel": "#P1_ACEITE", "ColTipo": "switch"},
    "NOVIDADES": {"WebSel": "#P1_NOVIDADES", "ColTipo": "checkbox"},
    "PLANO": {"WebSel": "#P1_PLANO", "ColTipo": "dropdownlist"},
    "INTERESSES": {"WebSel": "#P1_INTERESSES", "ColTipo": "multiselect"},
}
ITEMS = ["P1_ACEITE", "P1_NOVIDADES", "P1_PLANO", "P1_INTERESSES"]


def values(run, page):
    return run(page.evaluate("(ids) => ids.map((id) => __zv.value(id))", ITEMS))


@pytest.mark.parametrize("ligado, desligado", [
    ((True, True), (False, False)), ((1, 1), (0, 0)), (("S", "s"), ("N", "n")), (("Sim", " sim "), ("Não", "nao")),
    (("true", "1"), ("FALSE", "0")), (("Y", "SIM"), ("N", "NAO")),  # the items' own values
])
def test_the_new_kinds_land_and_read_back(form, run, quiet, ligado, desligado):
    dados = {"ACEITE": ligado[0], "NOVIDADES": ligado[1], "PLANO": "PRE", "INTERESSES": ["SEG", "INV"],
             "RepAtivarPreenc": 0}
    run(vc.VexoControleApex(form).fCtPreencTodoForm(MAPA, dados))
    assert values(run, form) == ["Y", "SIM", "PRE", ["SEG", "INV"]]
    receipt = run(cf.fCtConferirForm(form, MAPA, dados))
    assert [(r["coluna"], r["estado"], r["esperado"]) for r in receipt] == [
        ("ACEITE", "igual", "Y"), ("NOVIDADES", "igual", "SIM"), ("PLANO", "igual", "PRE"),
        ("INTERESSES", "igual", ["SEG", "INV"])]

    dados = dict(dados, ACEITE=desligado[0], NOVIDADES=desligado[1])
    run(vc.VexoControleApex(form).fCtPreencTodoForm(MAPA, dados))
    assert values(run, form)[:2] == ["N", "NAO"]
    assert [r["estado"] for r in run(cf.fCtConferirForm(form, MAPA, dados))] == ["igual"] * 4


@pytest.mark.parametrize("fill, sel, value", [
    ("fCtPreencSwitch", "#P1_ACEITE", "talvez"),
    ("fCtPreencCheckbox", "#P1_NOVIDADES", "Y"),  # the switch's own value, not this box's
    ("fCtPreencSwitch", "#P1_ACEITE", 2),
    ("fCtPreencCheckbox", "#P1_NOVIDADES", ["S"]),
])
def test_a_value_that_is_no_on_off_value_is_an_error_naming_the_field(form, run, quiet, fill, sel, value):
    run(form.evaluate("__zv.reset()"))
    with pytest.raises(ValueError, match=sel):
        run(getattr(vc, fill)(form, sel, value))
    assert run(form.evaluate("__zv.calls")) == []
    assert values(run, form)[:2] == ["N", "NAO"]


def test_the_controller_fills_the_new_kinds_by_its_methods(form, run, quiet):
    ctl = vc.VexoControleApex(form)
    run(ctl.fCtPreencSwitch("#P1_ACEITE", "S"))
    run(ctl.fCtPreencCheckbox("#P1_NOVIDADES", True))
    run(ctl.fCtPreencUmCampo({"WebSel": "#P1_ACEITE", "ColTipo": "Switch", "ColNome": "ACEITE"}, "Não"))
    assert values(run, form)[:2] == ["N", "SIM"]


def test_the_check_and_the_mapping_take_the_24_2_items(form, run, quiet):
    dados = {"ACEITE": "S", "NOVIDADES": 1, "PLANO": "BAS", "INTERESSES": ["PREV"], "RepAtivarPreenc": 0}
    findings = {f["coluna"]: (f["veredito"], f["mensagem"]) for f in run(cf.fCtVerificarMapa(form, MAPA, dados))}
    assert {c: findings[c] for c in MAPA} == {c: ("ok", "confere") for c in MAPA}

    wrong = {"PLANO": {"WebSel": "#P1_PLANO", "ColTipo": "autocomplete"},
             "ACEITE": {"WebSel": "#P1_ACEITE", "ColTipo": "switch"}}
    findings = {f["coluna"]: f for f in run(cf.fCtVerificarMapa(form, wrong, {"PLANO": "Básico", "ACEITE": "talvez",
                                                                               "RepAtivarPreenc": 0}))}
    assert findings["PLANO"]["veredito"] == "erro" and "dropdownlist" in findings["PLANO"]["mensagem"]
    assert findings["ACEITE"]["veredito"] == "erro" and "talvez" in findings["ACEITE"]["mensagem"]

    got = run(cf.fCtMapearPagina(form))
    kinds = {cfg["WebSel"]: cfg["ColTipo"] for cfg in got["mapa"].values()}
    assert {i: kinds.get("#" + i) for i in ITEMS} == {
        "P1_ACEITE": "switch", "P1_NOVIDADES": "checkbox", "P1_PLANO": "dropdownlist", "P1_INTERESSES": "multiselect"}
    assert {c: got["dados"][c] for c in ("ACEITE", "NOVIDADES", "PLANO", "INTERESSES")} == {
        "ACEITE": "N", "NOVIDADES": "NAO", "PLANO": "", "INTERESSES": []}


def test_autocomplete_on_a_select_one_says_its_value_is_invalid(form, run, log):
    run(vc.fCtPreencAutoComplete(form, "#P1_PLANO", "Premium"))
    assert log.messages("error") == [
        "fCtPreencText -> Valor invalido para a lista de selecao (use dropdownlist): #P1_PLANO | valor: Premium"]
    run(vc.fCtPreencAutoComplete(form, "#P1_NOME", "Ana"))  # a text field: no such line
    assert len(log.messages("error")) == 1
