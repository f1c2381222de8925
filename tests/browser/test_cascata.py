"""Cascading lists on a slow server, in real Chromium on the stand-in: the child's options come
when the server answers the refresh its parent's change started (?latencia= sets that time), and
the fills wait for them instead of leaving the child empty."""
import pytest

from ziveviver import vexocontrole as vc

# Every test runs under both pacings (the "ritmo" fixture).
pytestmark = pytest.mark.usefixtures("ritmo")

MAPA = {
    "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},
    "ESTADO": {"WebSel": "#P1_ESTADO", "ColTipo": "dropdownlist"},
    "NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
}

# The cascading child of PAIS, by its field type: its field, its value in the data, the item's
# value once it landed, the fill's own time for its option (past it, the fill waits for the
# refresh and says so), and the line that says the value was chosen. The radio group becomes a
# child for the test: a change of PAIS refreshes it as a cascade does (emptied, the server's
# answer, its options rendered again).
CHILDREN = {
    "dropdownlist": ("ESTADO", "POR", "POR", 2000, "fCtApexPreencDropDownList -> Dropdown selecionado (Playwright): #P1_ESTADO"),
    "radio": ("SEXO", "0", "M", 5000, "fCtPreencCheckRadio -> Radio selecionado: #P1_SEXO_0"),
}
RADIO_CHILD = "apex.jQuery('#P1_PAIS').on('change', () => __zv.refresh('P1_SEXO'))"


def value(run, page, item):
    return run(page.evaluate("(id) => __zv.value(id)", item))


# The radio group also past the retry wrapper's three attempts of 5 s each.
@pytest.mark.parametrize(
    "kind, latencia", [("dropdownlist", 3000), ("dropdownlist", 5000), ("radio", 3000), ("radio", 20000)]
)
def test_child_lands_when_the_server_answers_late(open_form, run, log, kind, latencia):
    campo, dado, landed, own_limit, chosen = CHILDREN[kind]
    page = open_form(f"latencia={latencia}")
    if kind == "radio":
        run(page.evaluate(RADIO_CHILD))
    mapa = {"PAIS": MAPA["PAIS"], campo: {"WebSel": f"#P1_{campo}", "ColTipo": kind}, "NOME": MAPA["NOME"]}
    ctl = vc.VexoControleApex(page)
    vc.gDebugDev, vc.objfLog = True, log  # construction set the module's logging
    run(ctl.fCtPreencTodoForm(mapa, {"PAIS": "PT", campo: dado, "NOME": "Ana", "RepAtivarPreenc": 0}))
    assert [value(run, page, i) for i in ("P1_PAIS", f"P1_{campo}", "P1_NOME")] == ["PT", landed, "Ana"]
    if kind == "dropdownlist":
        assert run(page.evaluate("document.getElementById('P1_ESTADO').selectedOptions[0].text")) == "Porto"
    lines = log.messages()
    assert chosen in lines
    waited = f"{chosen.split(' -> ')[0]} -> Atualizacao do item terminada: #P1_{campo}"
    assert (waited in lines) == (latencia > own_limit)
    assert not [m for m in lines if "Valor nao aplicado" in m or "RETRY" in m]


def test_no_wait_and_no_new_line_when_nothing_refreshes(open_form, run, log):
    """A value no option carries, with the list at rest: today's path and its error line."""
    page = open_form()
    run(vc.fCtApexPreencDropDownList(page, "#P1_PAIS", "PT"))
    run(page.wait_for_function("apex.jQuery.active === 0"))
    run(vc.fCtApexPreencDropDownList(page, "#P1_ESTADO", "ZZ"))
    assert log.messages() == [
        "fCtApexPreencDropDownList -> Dropdown selecionado (Playwright): #P1_PAIS",
        "fCtApexPreencDropDownList -> Valor nao aplicado (APEX): #P1_ESTADO | valor: ZZ",
    ]


def test_multi_select_set_again_once_its_refresh_ended(open_form, run, log):
    page = open_form()
    run(page.evaluate("__zv.refresh('P1_IDIOMAS', 3000)"))
    run(vc.fCtApexPreencMultiSelect(page, "#P1_IDIOMAS", ["PT", "EN"]))
    assert sorted(value(run, page, "P1_IDIOMAS")) == ["EN", "PT"]
    assert log.messages() == [
        "fCtApexPreencMultiSelect -> Item em atualizacao, aguardando: #P1_IDIOMAS",
        "fCtApexPreencMultiSelect -> Atualizacao do item terminada: #P1_IDIOMAS",
    ]
