"""The single-field fill, the whole-form fill (preamble, field loop, section phase) and the
representatives fill, on the recording page. The type dispatch is replaced in the module
by a recorder and the section fills by recorders on the controller, all writing into the
page's record next to the log lines, so order is checked across them."""
import copy

import pytest

from scripts_of import TimelineLogger

PREFIX = "VexoControleApex -> fCtPreencTodoForm -> "


@pytest.fixture
def dispatch(vc, page):
    """The module's dispatcher replaced: records ("dispatch", page, config, value, extra
    args, snapshot of config) into page.ops; raises for a config holding "Falha"."""

    async def fCtApexIdentTipoCampoPreenc(pPage, pWebConfig, pDbCampoValue, *more, **kw):
        page.ops.append(("dispatch", pPage, pWebConfig, pDbCampoValue, more + tuple(kw.items()),
                         copy.deepcopy(pWebConfig)))
        if "Falha" in pWebConfig:
            raise pWebConfig["Falha"]

    vc.fCtApexIdentTipoCampoPreenc = fCtApexIdentTipoCampoPreenc
    return page


def dispatched(page):
    """(column written into ColNome, value) of every dispatch, in order."""
    return [(op[5].get("ColNome"), op[3]) for op in page.ops if op[0] == "dispatch"]


def logs(page):
    return [(op[1], op[2]) for op in page.ops if op[0] == "log"]


@pytest.fixture
def tl(vc, page):
    lg = TimelineLogger(page)
    vc.gDebugDev = True
    vc.objfLog = lg
    return lg


@pytest.fixture
def ctl(vc, page):
    """A controller (debug off, silent logger) whose section fills are recorders."""
    c = vc.VexoControleApex(page)

    def section(name):
        async def fill(pDictColsDePara, pJsonDados):
            page.ops.append(("section", name, pDictColsDePara, pJsonDados))
        return fill

    for name in ("fCtApexPreencRepres", "fPreencGridTitular", "fPreencGridBeneficiario"):
        setattr(c, name, section(name))
    return c


def sections(page):
    return [op[1] for op in page.ops if op[0] == "section"]


def field(sel, tipo="text"):
    return {"WebSel": sel, "ColTipo": tipo}


GRID_T = {"TitInserir": {"WebSel": "#TIT_ADD"}, "TitGravar": {"WebSel": "#TIT_SAVE"},
          "TIT_NOME": field("#P2_TIT_NOME")}
GRID_B = {"BenInserir": {"WebSel": "#BEN_ADD"}, "BenGravar": {"WebSel": "#BEN_SAVE"},
          "BEN_NOME": field("#P3_BEN_NOME")}
REPRES = {"REP_NOME": field("#P1_REP_NOME")}


# ------------------------------------------------------------------ single field

def test_single_field_traces_then_dispatches_with_the_controllers_page(vc, tl, dispatch, ctl, run):
    vc.gDebugDev = True
    vc.objfLog = tl
    config = {"WebSel": "#P1_NOME", "ColTipo": "Text", "ColNome": "NOME"}
    run(ctl.fCtPreencUmCampo(config, "ABC"))
    assert logs(dispatch) == [("info", "VexoControleApex -> fCtPreencUmCampo -> Preenchendo campo NOME (Text) -> ABC")]
    op = [o for o in dispatch.ops if o[0] == "dispatch"]
    assert len(op) == 1
    assert op[0][1] is ctl.page and op[0][2] is config and op[0][3] == "ABC" and op[0][4] == ()


def test_single_field_with_debug_off_needs_no_column_name(vc, dispatch, ctl, run):
    run(ctl.fCtPreencUmCampo(field("#P1_NOME"), 7))
    assert dispatched(dispatch) == [(None, 7)]
    assert logs(dispatch) == []


@pytest.mark.parametrize("config, key", [
    ({"WebSel": "#P1_NOME", "ColTipo": "text"}, "ColNome"),
    ({"WebSel": "#P1_NOME", "ColNome": "NOME"}, "ColTipo"),
])
def test_single_field_with_debug_on_needs_name_and_type(vc, tl, dispatch, ctl, run, config, key):
    vc.gDebugDev, vc.objfLog = True, tl
    with pytest.raises(KeyError) as err:
        run(ctl.fCtPreencUmCampo(config, "x"))
    assert err.value.args == (key,)
    assert dispatch.ops == []


def test_single_field_none_value_and_unsupported_type_reach_the_real_dispatcher(vc, tl, page, ctl, run):
    vc.gDebugDev, vc.objfLog = True, tl
    run(ctl.fCtPreencUmCampo({"WebSel": "#P1_NOME", "ColTipo": "text", "ColNome": "NOME"}, None))
    with pytest.raises(Exception) as err:
        run(ctl.fCtPreencUmCampo({"WebSel": "#P1_NOME", "ColTipo": "Caixa", "ColNome": "NOME"}, 1))
    assert err.value.args == ("fCtApexIdentTipoCampoPreenc -> Tipo campo nao suportado: Caixa",)
    assert logs(page) == [
        ("info", "VexoControleApex -> fCtPreencUmCampo -> Preenchendo campo NOME (text) -> None"),
        ("info", "VexoControleApex -> fCtPreencUmCampo -> Preenchendo campo NOME (Caixa) -> 1"),
    ]
    assert [op for op in page.ops if op[0] != "log"] == []  # a blank value touches nothing


# ------------------------------------------------------------------ field loop

def test_loop_fills_in_mapping_order_writes_colnome_and_stops_at_first_section(vc, dispatch, ctl, run):
    f1, f2, f3 = field("#P1_NOME"), field("#P1_OBS", "textarea"), field("#P1_CIDADE")
    titulares = copy.deepcopy(GRID_T)
    mapping = {"NOME": f1, "OBS": f2, "Titulares": titulares, "CIDADE": f3}
    data = {"NOME": "Ana", "CIDADE": "Porto", "RepAtivarPreenc": 0, "Titulares": [{"TIT_NOME": "B"}]}
    run(ctl.fCtPreencTodoForm(mapping, data))
    # OBS is not in the data: None is passed on
    assert dispatched(dispatch) == [("NOME", "Ana"), ("OBS", None)]
    calls = [op for op in dispatch.ops if op[0] == "dispatch"]
    assert calls[0][1] is ctl.page and calls[0][2] is f1 and calls[1][2] is f2
    assert all(c[4] == () for c in calls)  # no time limit given: the dispatcher's default
    assert f1["ColNome"] == "NOME" and f2["ColNome"] == "OBS"
    assert "ColNome" not in f3 and titulares == GRID_T
    assert sections(dispatch) == ["fPreencGridTitular"]


def test_loop_without_sections_fills_every_field_and_does_no_section_work(vc, dispatch, ctl, run):
    mapping = {k: field("#P1_" + k) for k in ("A", "B", "C", "D")}
    run(ctl.fCtPreencTodoForm(mapping, {"A": 1, "B": 2, "C": 3, "D": 4, "RepAtivarPreenc": 0}))
    assert dispatched(dispatch) == [("A", 1), ("B", 2), ("C", 3), ("D", 4)]
    assert sections(dispatch) == []


def test_mapping_that_starts_with_a_section_fills_no_simple_field(vc, dispatch, ctl, run):
    mapping = {"Titulares": copy.deepcopy(GRID_T), "NOME": field("#P1_NOME")}
    run(ctl.fCtPreencTodoForm(mapping, {"NOME": "Ana", "RepAtivarPreenc": 1, "Titulares": [{}]}))
    assert dispatched(dispatch) == []
    assert sections(dispatch) == ["fPreencGridTitular"]


def test_debug_lines_of_preamble_and_loop(vc, tl, dispatch, ctl, run):
    vc.gDebugDev, vc.objfLog = True, tl
    mapping = {"NOME": field("#P1_NOME"), "IDADE": field("#P1_IDADE"), "Beneficiarios": {}}
    data = {"NOME": "Ana", "IDADE": 30, "RepAtivarPreenc": 0}
    shown_mapping, shown_data = str(mapping), str(data)
    run(ctl.fCtPreencTodoForm(mapping, data))
    assert logs(dispatch) == [
        ("info", "----------------------------------"),
        ("info", PREFIX + "configs recebidos: " + shown_mapping),
        ("info", PREFIX + "data recebida: " + shown_data),
        ("debug", PREFIX + "dbCampo NOME, Ana -> Ana;  WebConfig -> "
                  "{'WebSel': '#P1_NOME', 'ColTipo': 'text', 'ColNome': 'NOME'}"),
        ("debug", PREFIX + "dbCampo IDADE, 30 -> 30;  WebConfig -> "
                  "{'WebSel': '#P1_IDADE', 'ColTipo': 'text', 'ColNome': 'IDADE'}"),
        ("info", PREFIX + "Campo especial Beneficiarios encontrado, saindo do loop principal para processar grid"),
    ]
    # each field's trace line comes before its dispatch
    kinds = [op[0] if op[0] != "log" else op[1] for op in dispatch.ops]
    assert kinds == ["info", "info", "info", "debug", "dispatch", "debug", "dispatch", "info"]


def test_debug_off_logs_nothing(vc, dispatch, run, page):
    from fakepage import RecordingLogger
    ctl = vc.VexoControleApex(page)
    rec = RecordingLogger()
    vc.objfLog = rec
    run(ctl.fCtPreencTodoForm({"NOME": field("#P1_NOME"), "Representantes": {}},
                              {"NOME": "Ana", "RepAtivarPreenc": 0}))
    assert rec.lines == []
    assert dispatched(dispatch) == [("NOME", "Ana")]


def test_dispatch_failure_ends_the_fill_at_that_field(vc, dispatch, ctl, run):
    boom = ValueError("item sumiu")
    bad = dict(field("#P1_B"), Falha=boom)
    mapping = {"A": field("#P1_A"), "B": bad, "C": field("#P1_C"), "Titulares": GRID_T}
    with pytest.raises(ValueError) as err:
        run(ctl.fCtPreencTodoForm(mapping, {"A": 1, "B": 2, "C": 3, "RepAtivarPreenc": 1,
                                            "Titulares": [{}]}))
    assert err.value is boom
    assert dispatched(dispatch) == [("A", 1), ("B", 2)]
    assert "ColNome" not in mapping["C"] and sections(dispatch) == []


def test_non_dictionary_field_configuration_fails_on_the_colnome_write(vc, dispatch, ctl, run):
    with pytest.raises(TypeError):
        run(ctl.fCtPreencTodoForm({"A": field("#P1_A"), "B": "#P1_B"}, {"RepAtivarPreenc": 0}))
    assert dispatched(dispatch) == [("A", None)]


def test_mapping_none_fails_after_the_preamble(vc, tl, dispatch, ctl, run):
    vc.gDebugDev, vc.objfLog = True, tl
    with pytest.raises(AttributeError):
        run(ctl.fCtPreencTodoForm(None, {}))
    assert [m for _, m in logs(dispatch)] == [
        "----------------------------------", PREFIX + "configs recebidos: None", PREFIX + "data recebida: {}"]


def test_missing_rep_flag_fails_after_the_simple_fields(vc, dispatch, ctl, run):
    mapping = {"NOME": field("#P1_NOME"), "Titulares": GRID_T}
    with pytest.raises(KeyError) as err:
        run(ctl.fCtPreencTodoForm(mapping, {"NOME": "Ana", "Titulares": [{"TIT_NOME": "x"}]}))
    assert err.value.args == ("RepAtivarPreenc",)
    assert dispatched(dispatch) == [("NOME", "Ana")] and sections(dispatch) == []


# ------------------------------------------------------------------ section phase

FULL_DATA = {"Representantes": {"REP_NOME": "Rui"}, "Titulares": [{"TIT_NOME": "T1"}],
             "Beneficiarios": [{"BEN_NOME": "B1"}]}


@pytest.mark.parametrize("flag, with_rep", [
    (1, True), (1.0, True), (True, True),
    (0, False), ("1", False), (2, False), (False, False), (None, False),
])
def test_representatives_only_when_the_flag_equals_one(vc, dispatch, ctl, run, flag, with_rep):
    mapping = {"Representantes": REPRES, "Titulares": GRID_T, "Beneficiarios": GRID_B}
    run(ctl.fCtPreencTodoForm(mapping, dict(FULL_DATA, RepAtivarPreenc=flag)))
    expected = ["fPreencGridTitular", "fPreencGridBeneficiario"]
    assert sections(dispatch) == (["fCtApexPreencRepres"] if with_rep else []) + expected


@pytest.mark.parametrize("order", [
    ("Beneficiarios", "Titulares", "Representantes"),
    ("Titulares", "Representantes", "Beneficiarios"),
    ("Representantes", "Titulares", "Beneficiarios"),
])
def test_sections_in_fixed_order_with_their_own_entries(vc, tl, dispatch, ctl, run, order):
    vc.gDebugDev, vc.objfLog = True, tl
    by_key = {"Representantes": REPRES, "Titulares": GRID_T, "Beneficiarios": GRID_B}
    mapping = {k: by_key[k] for k in order}
    data = dict(FULL_DATA, RepAtivarPreenc=1)
    run(ctl.fCtPreencTodoForm(mapping, data))
    calls = [op for op in dispatch.ops if op[0] == "section"]
    assert [c[1] for c in calls] == ["fCtApexPreencRepres", "fPreencGridTitular", "fPreencGridBeneficiario"]
    for (_, _, cfg, dat), key in zip(calls, ["Representantes", "Titulares", "Beneficiarios"]):
        assert cfg is by_key[key] and dat is data[key]
    section_lines = [m for lv, m in logs(dispatch) if m in (
        PREFIX + "Representantes", PREFIX + "Titulares", PREFIX + "Beneficiarios")]
    assert section_lines == [PREFIX + "Representantes", PREFIX + "Titulares", PREFIX + "Beneficiarios"]
    # each section's line is written right before its fill
    kinds = [op[0] if op[0] != "log" else op[2] for op in dispatch.ops[-6:]]
    assert kinds == [PREFIX + "Representantes", "section", PREFIX + "Titulares", "section",
                     PREFIX + "Beneficiarios", "section"]


def test_section_only_in_the_data_logs_its_line_but_fills_nothing(vc, tl, dispatch, ctl, run):
    vc.gDebugDev, vc.objfLog = True, tl
    run(ctl.fCtPreencTodoForm({"NOME": field("#P1_NOME")}, dict(FULL_DATA, RepAtivarPreenc=1)))
    assert sections(dispatch) == []
    assert [m for _, m in logs(dispatch)][-3:] == [
        PREFIX + "Representantes", PREFIX + "Titulares", PREFIX + "Beneficiarios"]


@pytest.mark.parametrize("data", [
    {"Representantes": {}, "Titulares": [], "Beneficiarios": []},
    {"Representantes": None, "Titulares": None, "Beneficiarios": None},
    {},
])
def test_empty_or_absent_section_data_gives_no_line_and_no_fill(vc, tl, dispatch, ctl, run, data):
    vc.gDebugDev, vc.objfLog = True, tl
    mapping = {"Representantes": REPRES, "Titulares": GRID_T, "Beneficiarios": GRID_B}
    run(ctl.fCtPreencTodoForm(mapping, dict(data, RepAtivarPreenc=1)))
    assert sections(dispatch) == []
    assert [m for _, m in logs(dispatch)][-1] == PREFIX + "Campo especial Representantes encontrado, " \
        "saindo do loop principal para processar grid"


def test_flag_is_read_again_after_each_section(vc, tl, dispatch, ctl, run):
    vc.gDebugDev, vc.objfLog = True, tl

    async def holders_that_silence(cfg, dados):  # as a nested controller made with False would
        dispatch.ops.append(("section", "fPreencGridTitular", cfg, dados))
        vc.gDebugDev = False

    ctl.fPreencGridTitular = holders_that_silence
    run(ctl.fCtPreencTodoForm({"Titulares": GRID_T, "Beneficiarios": GRID_B}, dict(FULL_DATA, RepAtivarPreenc=0)))
    assert sections(dispatch) == ["fPreencGridTitular", "fPreencGridBeneficiario"]
    assert [m for _, m in logs(dispatch)][-1] == PREFIX + "Titulares"


def test_sections_are_looked_up_on_the_controller(vc, dispatch, page, run):
    seen = []

    class Meu(vc.VexoControleApex):
        async def fPreencGridTitular(self, cfg, dados):
            seen.append(("sub-titular", cfg, dados))

    ctl = Meu(page)

    async def ben(cfg, dados):
        seen.append(("instancia-beneficiario", cfg, dados))

    ctl.fPreencGridBeneficiario = ben
    mapping = {"Titulares": GRID_T, "Beneficiarios": GRID_B}
    run(ctl.fCtPreencTodoForm(mapping, dict(FULL_DATA, RepAtivarPreenc=0)))
    assert seen == [("sub-titular", GRID_T, FULL_DATA["Titulares"]),
                    ("instancia-beneficiario", GRID_B, FULL_DATA["Beneficiarios"])]


def test_section_failure_reaches_the_caller_and_stops_later_sections(vc, dispatch, ctl, run):
    async def broken(cfg, dados):
        raise LookupError("grid")

    ctl.fPreencGridTitular = broken
    mapping = {"Titulares": GRID_T, "Beneficiarios": GRID_B}
    with pytest.raises(LookupError):
        run(ctl.fCtPreencTodoForm(mapping, dict(FULL_DATA, RepAtivarPreenc=0)))
    assert sections(dispatch) == []


# ------------------------------------------------------------------ representatives

REP_PREFIX = "VexoControleApex -> fPreencGridBeneficiario -> Repres -> dbCampo: "


def test_representatives_fill_each_item_with_colnome_and_three_arguments(vc, dispatch, ctl, run):
    nome, nasc = field("#P1_REP_NOME"), field("#P1_REP_NASC", "DatePicker")
    section = {"REP_NOME": nome, "REP_NASC": nasc}
    run(vc.VexoControleApex.fCtApexPreencRepres(ctl, section, {"REP_NOME": "Rui", "OUTRO": 1}))
    calls = [op for op in dispatch.ops if op[0] == "dispatch"]
    assert [(c[2], c[3], c[4]) for c in calls] == [(nome, "Rui", ()), (nasc, None, ())]
    assert all(c[1] is ctl.page for c in calls)
    assert nome["ColNome"] == "REP_NOME" and nasc["ColNome"] == "REP_NASC"
    assert dispatched(dispatch) == [("REP_NOME", "Rui"), ("REP_NASC", None)]


def test_representatives_debug_lines(vc, tl, dispatch, ctl, run):
    vc.gDebugDev, vc.objfLog = True, tl
    section = {"REP_NOME": field("#P1_REP_NOME"), "REP_CPF": field("#P1_REP_CPF")}
    record = {"REP_NOME": "Rui"}
    shown = str(section)
    run(vc.VexoControleApex.fCtApexPreencRepres(ctl, section, record))
    assert logs(dispatch) == [
        ("info", "-------------------------------"),
        ("info", PREFIX + "configs recebidos: " + shown),
        ("info", PREFIX + "data recebida: {'REP_NOME': 'Rui'}"),
        ("debug", REP_PREFIX + "REP_NOME, Valor: Rui -> WebConfig: "
                  "{'WebSel': '#P1_REP_NOME', 'ColTipo': 'text', 'ColNome': 'REP_NOME'}"),
        ("debug", REP_PREFIX + "REP_CPF, Valor: None -> WebConfig: "
                  "{'WebSel': '#P1_REP_CPF', 'ColTipo': 'text', 'ColNome': 'REP_CPF'}"),
    ]


def test_representatives_empty_section_only_preamble_and_debug_off_nothing(vc, tl, dispatch, ctl, run):
    vc.gDebugDev, vc.objfLog = True, tl
    run(vc.VexoControleApex.fCtApexPreencRepres(ctl, {}, {"REP_NOME": "Rui"}))
    assert len(logs(dispatch)) == 3 and dispatched(dispatch) == []
    vc.gDebugDev = False
    run(vc.VexoControleApex.fCtApexPreencRepres(ctl, {"REP_NOME": field("#P1_REP_NOME")}, {"REP_NOME": "Rui"}))
    assert len(logs(dispatch)) == 3 and dispatched(dispatch) == [("REP_NOME", "Rui")]


def test_representatives_failure_keeps_colnome_of_reached_items(vc, dispatch, ctl, run):
    a, b, c = field("#P1_A"), dict(field("#P1_B"), Falha=OSError("x")), field("#P1_C")
    with pytest.raises(OSError):
        run(vc.VexoControleApex.fCtApexPreencRepres(ctl, {"A": a, "B": b, "C": c}, {}))
    assert a["ColNome"] == "A" and b["ColNome"] == "B" and "ColNome" not in c
    assert dispatched(dispatch) == [("A", None), ("B", None)]


def test_representatives_non_dictionary_entry_fails_after_the_items_before_it(vc, dispatch, ctl, run):
    with pytest.raises(TypeError):
        run(vc.VexoControleApex.fCtApexPreencRepres(ctl, {"A": field("#P1_A"), "B": "#P1_B"}, {"A": 1}))
    assert dispatched(dispatch) == [("A", 1)]


def test_whole_form_passes_both_representative_entries_to_the_real_method(vc, dispatch, page, run):
    ctl = vc.VexoControleApex(page)
    section = {"REP_NOME": field("#P1_REP_NOME"), "REP_TIPO": field("#P1_REP_TIPO", "dropdownlist")}
    mapping = {"NOME": field("#P1_NOME"), "Representantes": section}
    run(ctl.fCtPreencTodoForm(mapping, {"NOME": "Ana", "RepAtivarPreenc": 1,
                                        "Representantes": {"REP_NOME": "Rui", "REP_TIPO": "PROC"}}))
    assert dispatched(dispatch) == [("NOME", "Ana"), ("REP_NOME", "Rui"), ("REP_TIPO", "PROC")]
    assert "ColNome" not in mapping["Representantes"]
