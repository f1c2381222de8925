"""The pre-flight check against a fake page whose probe script answers from a model of a form:
a correct mapping, each kind of mistake planted one at a time, the date formats, and what the
check logs and leaves untouched."""
import copy

import pytest

from conferencia_pagina import ModelPage, element
from ziveviver import vexoconferencia as cf

ELEMENTS = {
    "#P_NOME": element(),
    "#P_OBS": element("textarea"),
    "#P_PAIS": element("select"),
    "#P_IDIOMAS": element("select", multiple=True),
    "#P_SEXO": element("div", group=True),
    "#P_CANAIS": element("div", group=True),
    "#P_PROF": element(),
    "#P_NASC": element("a-date-picker", datePicker=True, format="DD/MM/YYYY"),
    "#P_VELHA": element(datePicker=True),
    "#P_RO": element(type="hidden", visible=False),
    "#P_OFF": element(disabled=True),
    "#P_OCULTO": element(visible=False),
    "#P_SEMAPEX": element(apexItem=False),
    "#P_DUP": element(count=2),
    "#P_BOTAO": element("button"),
    "#TIT_ADD": element("button"),
    "#TIT_SAVE": element("button", disabled=True),
    "#P2_NOME": element(visible=False),
    "#P2_VINC": element("div", group=True, visible=False),
    "#P2_NASC": element("a-date-picker", datePicker=True, format="DD-MON-YYYY", visible=False),
}
OPTIONS = {
    "P_SEXO": [("radio", False), ("radio", False), ("radio", True)],
    "P_CANAIS": [("checkbox", False), ("checkbox", False)],
    "P2_VINC": [("checkbox", False), ("checkbox", False), ("checkbox", False)],
}
LOVS = {"P_PROF"}


def mapping():
    return {
        "NOME": {"WebSel": "#P_NOME", "ColTipo": "text"},
        "OBS": {"WebSel": "#P_OBS", "ColTipo": "textarea"},
        "PAIS": {"WebSel": "#P_PAIS", "ColTipo": "DropDownList"},
        "IDIOMAS": {"WebSel": "#P_IDIOMAS", "ColTipo": "multiselect"},
        "SEXO": {"WebSel": "#P_SEXO", "ColTipo": "radio"},
        "CANAIS": {"WebSel": "#P_CANAIS", "ColTipo": "checkboxmultiple"},
        "PROF": {"WebSel": "#P_PROF", "ColTipo": "popuplovid"},
        "NASC": {"WebSel": "#P_NASC", "ColTipo": "datepicker"},
        "Titulares": {
            "TitInserir": {"WebSel": "#TIT_ADD"},
            "T_NOME": {"WebSel": "#P2_NOME", "ColTipo": "text"},
            "T_VINC": {"WebSel": "#P2_VINC", "ColTipo": "checkboxmultiple"},
            "T_NASC": {"WebSel": "#P2_NASC", "ColTipo": "datepicker"},
            "TitGravar": {"WebSel": "#TIT_SAVE"},
        },
    }


def data():
    return {
        "NOME": "Ana", "OBS": "linha 1\nlinha 2", "PAIS": "PT", "IDIOMAS": ["PT", "EN"], "SEXO": "1",
        "CANAIS": " 0 ", "PROF": "101", "NASC": "29/02/2024", "RepAtivarPreenc": 0,
        "Titulares": [
            {"T_NOME": "Rui", "T_VINC": "2", "T_NASC": "01-JAN-1980"},
            {"T_NOME": "Eva", "T_VINC": "0", "T_NASC": "31-DEZ-1990"},
        ],
    }


def model_page(**changes):
    elements = dict(ELEMENTS)
    elements.update(changes.pop("elements", {}))
    return ModelPage(elements, changes.pop("options", OPTIONS), changes.pop("lov_buttons", LOVS))


def check(run, m=None, d=None, page=None):
    return run(cf.fCtVerificarMapa(page or model_page(), mapping() if m is None else m, data() if d is None else d))


def finding(findings, coluna, secao=None):
    hits = [f for f in findings if f["coluna"] == coluna and (secao is None or f["secao"] == secao)]
    assert len(hits) == 1, (coluna, findings)
    return hits[0]


def test_a_correct_mapping_gives_one_ok_finding_per_field_button_and_section(run):
    findings = check(run)
    assert [(f["secao"], f["coluna"], f["veredito"]) for f in findings] == [
        ("Formulario", "NOME", "ok"), ("Formulario", "OBS", "ok"), ("Formulario", "PAIS", "ok"),
        ("Formulario", "IDIOMAS", "ok"), ("Formulario", "SEXO", "ok"), ("Formulario", "CANAIS", "ok"),
        ("Formulario", "PROF", "ok"), ("Formulario", "NASC", "ok"),
        ("Titulares", "TitInserir", "ok"), ("Titulares", "TitGravar", "ok"),
        ("Titulares", "T_NOME", "ok"), ("Titulares", "T_VINC", "ok"), ("Titulares", "T_NASC", "ok"),
        ("Representantes", "RepAtivarPreenc", "ok"),
    ]
    nome = finding(findings, "NOME")
    assert nome == {"secao": "Formulario", "coluna": "NOME", "seletor": "#P_NOME", "tipo": "text",
                    "veredito": "ok", "mensagem": "confere"}
    assert finding(findings, "TitInserir")["tipo"] == "botao"
    assert finding(findings, "RepAtivarPreenc")["mensagem"] == "representantes desativados"


def test_the_check_changes_neither_the_dictionaries_nor_the_page(run):
    m, d = mapping(), data()
    m0, d0 = copy.deepcopy(m), copy.deepcopy(d)
    page = model_page()
    check(run, m, d, page)
    assert m == m0 and d == d0  # no "ColNome" written, nothing else either
    assert {op for op, _, _ in page.ops} == {"evaluate"}
    assert {name for name, _ in page.scripts} == {"sondar_item"}


def test_the_probe_gets_the_item_id_and_the_positions_the_data_names(run):
    page = model_page()
    m = {"SEXO": {"WebSel": "##P_SEXO ", "ColTipo": "radio"},
         "Titulares": mapping()["Titulares"]}
    check(run, m, data(), page)
    args = [a for name, a in page.scripts]
    assert ["##P_SEXO ", "P_SEXO", ["1"]] in args
    # the grid's positions, trimmed and once each, from every record
    assert ["#P2_VINC", "P2_VINC", ["2", "0"]] in args


# One planted mistake per case: (change to the mapping, change to the data, page changes,
# column, verdict, part of the message).
def _set(path, value):
    def apply(d):
        target = d
        for key in path[:-1]:
            target = target[key]
        if value is KeyError:
            del target[path[-1]]
        else:
            target[path[-1]] = value
    return apply


class KindWithOddLower(str):
    """A str subclass whose lower() is not a text: the check must call it unsupported, not crash."""
    def lower(self):
        return 7


MISTAKES = [
    ("nothing found", _set(["NOME", "WebSel"], "#P_NOMEX"), None, "NOME", "erro", "nenhum elemento encontrado"),
    ("two found", _set(["NOME", "WebSel"], "#P_DUP"), None, "NOME", "erro", "2 elementos encontrados"),
    ("bad selector", _set(["NOME", "WebSel"], "#P_NOME[["), None, "NOME", "erro", "seletor inválido"),
    ("text on a select", _set(["NOME", "WebSel"], "#P_PAIS"), None, "NOME", "erro", "é uma lista de seleção"),
    ("text on a hidden input", _set(["NOME", "WebSel"], "#P_RO"), None, "NOME", "erro", "input oculto"),
    ("text on a group", _set(["NOME", "WebSel"], "#P_SEXO"), None, "NOME", "erro", "grupo de opções"),
    ("text on a button", _set(["NOME", "WebSel"], "#P_BOTAO"), None, "NOME", "erro", "<button> não é um campo de texto"),
    ("text on a date picker", _set(["NOME", "WebSel"], "#P_NASC"), None, "NOME", "aviso", "use \"datepicker\""),
    ("list on a text input", _set(["PAIS", "WebSel"], "#P_NOME"), None, "PAIS", "erro", "não é uma lista de seleção"),
    ("single list on a multiple select", _set(["PAIS", "WebSel"], "#P_IDIOMAS"), None, "PAIS", "aviso", "use \"multiselect\""),
    ("multiselect on a single select", _set(["IDIOMAS", "WebSel"], "#P_PAIS"), None, "IDIOMAS", "erro", "lista de escolha simples"),
    ("radio position out of range", None, _set(["SEXO"], "5"), "SEXO", "erro", "posição \"5\" fora das opções (as opções vão de 0 a 2)"),
    ("radio on a disabled option", None, _set(["SEXO"], 2), "SEXO", "aviso", "a opção \"2\" está desabilitada"),
    ("radio on check boxes", _set(["SEXO", "WebSel"], "#P_CANAIS"), None, "SEXO", "aviso", "não são do tipo radio"),
    ("radio without options", _set(["SEXO", "WebSel"], "#P_NOME"), None, "SEXO", "erro", "nenhuma opção P_NOME_0, P_NOME_1"),
    ("check box on radios", _set(["CANAIS", "WebSel"], "#P_SEXO"), None, "CANAIS", "aviso", "não são do tipo checkbox"),
    ("popup LOV without its button", _set(["PROF", "WebSel"], "#P_NOME"), None, "PROF", "erro", "botão P_NOME_lov_btn não encontrado"),
    ("popup LOV id as a float", None, _set(["PROF"], 12.0), "PROF", "aviso", "procurado na lista como \"12.0\""),
    ("date in another format", None, _set(["NASC"], "2024-02-29"), "NASC", "erro", "data \"2024-02-29\": não segue o formato DD/MM/YYYY"),
    ("date that does not exist", None, _set(["NASC"], "29/02/2023"), "NASC", "erro", "o mês 2/2023 não tem dia 29"),
    ("date picker without a format", _set(["NASC", "WebSel"], "#P_VELHA"), None, "NASC", "aviso", "não declara o formato"),
    ("date on a plain input", _set(["NASC", "WebSel"], "#P_NOME"), None, "NASC", "aviso", "não parece um seletor de data"),
    ("unsupported kind", _set(["NOME", "ColTipo"], "combo"), None, "NOME", "erro", "tipo \"combo\" não suportado"),
    ("kind whose lower() is no text", _set(["NOME", "ColTipo"], KindWithOddLower("text")), None, "NOME", "erro", "não suportado"),
    ("kind with a blank", _set(["NOME", "ColTipo"], " text"), None, "NOME", "erro", "tipo \" text\" não suportado"),
    ("no selector", _set(["NOME", "WebSel"], KeyError), None, "NOME", "erro", "sem \"WebSel\""),
    ("no kind", _set(["NOME", "ColTipo"], KeyError), None, "NOME", "erro", "sem \"ColTipo\": o preenchimento pararia"),
    ("configuration not a dict", _set(["NOME"], "#P_NOME"), None, "NOME", "erro", "não é um dicionário"),
    ("column absent from the data", None, _set(["OBS"], KeyError), "OBS", "aviso", "coluna ausente dos dados"),
    ("multiselect absent from the data", None, _set(["IDIOMAS"], KeyError), "IDIOMAS", "erro", "pararia com erro"),
    ("multiselect given null", None, _set(["IDIOMAS"], None), "IDIOMAS", "erro", "sem valor"),
    ("multiselect given a text", None, _set(["IDIOMAS"], "PT"), "IDIOMAS", "aviso", "cada letra seria uma opção"),
    ("multiselect given a number", None, _set(["IDIOMAS"], 7), "IDIOMAS", "erro", "não é uma lista"),
    ("text given a list", None, _set(["NOME"], ["a", "b"]), "NOME", "aviso", "valor composto"),
    ("disabled element", _set(["NOME", "WebSel"], "#P_OFF"), None, "NOME", "aviso", "desabilitado agora"),
    ("hidden element", _set(["NOME", "WebSel"], "#P_OCULTO"), None, "NOME", "aviso", "não está visível agora"),
    ("element APEX does not know", _set(["NOME", "WebSel"], "#P_SEMAPEX"), None, "NOME", "aviso", "o APEX não conhece este item"),
    ("grid without its save button", _set(["Titulares", "TitGravar"], KeyError), None, "TitGravar", "erro", "botão em falta"),
    ("grid button not found", _set(["Titulares", "TitInserir", "WebSel"], "#TIT_ADDX"), None, "TitInserir", "erro", "botão não encontrado"),
    ("grid button disabled", _set(["Titulares", "TitInserir", "WebSel"], "#P_OFF"), None, "TitInserir", "aviso", "desabilitado agora"),
    ("grid kind it skips", _set(["Titulares", "T_NASC", "ColTipo"], "date"), None, "T_NASC", "erro", "a grelha só preenche"),
    ("grid kind in capitals", _set(["Titulares", "T_NOME", "ColTipo"], "Text"), None, "T_NOME", "erro", "\"Text\" ficaria por preencher"),
    ("grid cell without a kind", _set(["Titulares", "T_NOME", "ColTipo"], KeyError), None, "T_NOME", "erro", "a grelha terminaria o processo"),
    ("grid date in a record", None, _set(["Titulares", 1, "T_NASC"], "31-XYZ-1990"), "T_NASC", "erro", "registo 2: data \"31-XYZ-1990\": mês \"XYZ\" desconhecido"),
    ("grid position in a record", None, _set(["Titulares", 0, "T_VINC"], "3"), "T_VINC", "erro", "registo 1: posição \"3\" fora das opções"),
    ("grid column in no record", None, lambda d: [r.pop("T_NOME") for r in d["Titulares"]], "T_NOME", "aviso", "coluna ausente dos dados"),
]


@pytest.mark.parametrize("change_map, change_data, coluna, veredito, fragment",
                         [m[1:] for m in MISTAKES], ids=[m[0] for m in MISTAKES])
def test_each_planted_mistake_is_found_on_its_own_field(run, change_map, change_data, coluna, veredito, fragment):
    m, d = mapping(), data()
    if change_map:
        change_map(m)
    if change_data:
        change_data(d)
    findings = check(run, m, d)
    f = finding(findings, coluna)
    assert f["veredito"] == veredito, f
    assert fragment in f["mensagem"], f
    # the other fields keep their verdict
    others = [x for x in findings if x["coluna"] != coluna and x["veredito"] != "ok"]
    assert others == [], others


def test_hidden_grid_cells_are_not_reported_as_hidden(run):
    # the row editor of a grid is hidden until its add button is pressed
    f = finding(check(run), "T_NOME")
    assert f["veredito"] == "ok" and "visível" not in f["mensagem"]


def test_a_blank_value_is_noted(run):
    d = data()
    d["NOME"] = "   "
    d["PROF"] = "0"  # skipped by the popup LOV fill as a placeholder
    findings = check(run, d=d)
    for col in ("NOME", "PROF"):
        f = finding(findings, col)
        assert (f["veredito"], f["mensagem"]) == ("ok", "valor vazio nos dados: nada a preencher")


def test_an_empty_multiselect_list_is_said_to_clear_the_selection(run):
    d = data()
    d["IDIOMAS"] = []
    f = finding(check(run, d=d), "IDIOMAS")
    assert (f["veredito"], f["mensagem"]) == ("ok", "lista vazia: o preenchimento limpa a seleção")


def test_simple_fields_after_a_section_key_are_errors(run):
    m = mapping()
    m["TARDE"] = {"WebSel": "#P_NOME", "ColTipo": "text"}
    d = data()
    d["TARDE"] = "x"
    f = finding(check(run, m, d), "TARDE")
    assert f["veredito"] == "erro"
    assert "vem depois da secção \"Titulares\" no mapa: o preenchimento do formulário nunca chega a este campo" in f["mensagem"]


def test_data_columns_and_sections_without_a_place_in_the_mapping(run):
    d = data()
    d["EXTRA"] = "x"
    d["Beneficiarios"] = [{"B_NOME": "Ze"}]
    d["Titulares"][1]["T_EXTRA"] = "y"
    findings = check(run, d=d)
    extra = finding(findings, "EXTRA")
    assert (extra["secao"], extra["seletor"], extra["tipo"], extra["veredito"]) == ("Formulario", None, None, "aviso")
    assert extra["mensagem"] == "coluna dos dados sem lugar no mapa: não será preenchida"
    assert finding(findings, "T_EXTRA")["secao"] == "Titulares"
    ben = finding(findings, "Beneficiarios")
    assert (ben["tipo"], ben["veredito"]) == ("secao", "aviso")


@pytest.mark.parametrize(
    "flag, reps_mapped, verdict, fragment",
    [
        ("absent", True, "erro", "ausente dos dados"),
        ("absent", False, "erro", "ausente dos dados"),
        ("1", True, "aviso", "o texto \"1\" não ativa os representantes"),
        (0, True, "aviso", "o representante dos dados não será preenchido"),
        (1, False, "aviso", "o mapa não tem a secção \"Representantes\""),
        (1.0, True, "ok", "representantes ativados"),
        (True, True, "ok", "representantes ativados"),
        (0, False, "ok", "representantes desativados"),
    ],
)
def test_the_representatives_flag(run, flag, reps_mapped, verdict, fragment):
    m, d = mapping(), data()
    d["Representantes"] = {"R_NOME": "Rita"}
    if reps_mapped:
        m["Representantes"] = {"R_NOME": {"WebSel": "#P_NOME", "ColTipo": "text"}}
    if flag == "absent":
        del d["RepAtivarPreenc"]
    else:
        d["RepAtivarPreenc"] = flag
    f = finding(check(run, m, d), "RepAtivarPreenc")
    assert f["secao"] == "Representantes" and f["veredito"] == verdict and fragment in f["mensagem"], f


def test_representatives_items_are_checked_against_their_record(run):
    m, d = mapping(), data()
    m["Representantes"] = {"R_NOME": {"WebSel": "#P_NOME", "ColTipo": "text"},
                           "R_NASC": {"WebSel": "#P_NASC", "ColTipo": "date"},
                           "R_CPF": {"WebSel": "#P_CPFX", "ColTipo": "text"}}
    d["RepAtivarPreenc"] = 1
    d["Representantes"] = {"R_NOME": "Rita", "R_NASC": "1/2/80", "R_MAIL": "r@x"}
    findings = [f for f in check(run, m, d) if f["secao"] == "Representantes"]
    assert [(f["coluna"], f["veredito"]) for f in findings] == [
        ("RepAtivarPreenc", "ok"), ("R_NOME", "ok"), ("R_NASC", "erro"), ("R_CPF", "erro"), ("R_MAIL", "aviso")]
    assert "não segue o formato DD/MM/YYYY" in findings[2]["mensagem"]
    assert "coluna ausente dos dados" in findings[3]["mensagem"] and "nenhum elemento" in findings[3]["mensagem"]


@pytest.mark.parametrize(
    "section_data, fragment",
    [
        ({"T_NOME": "Rui"}, "não são uma lista de registos"),
        ([{"T_NOME": "Rui"}, "Eva"], "o registo 2 não é um dicionário"),
    ],
)
def test_grid_data_of_the_wrong_shape(run, section_data, fragment):
    d = data()
    d["Titulares"] = section_data
    f = finding(check(run, d=d), "Titulares")
    assert (f["tipo"], f["veredito"]) == ("secao", "erro") and fragment in f["mensagem"]


def test_a_section_mapping_that_is_not_a_dict(run):
    m = mapping()
    m["Titulares"] = ["#TIT_ADD"]
    f = finding(check(run, m), "Titulares")
    assert (f["tipo"], f["veredito"]) == ("secao", "erro")


@pytest.mark.parametrize("m, d, fragment", [(["NOME"], {}, "o mapa não é um dicionário"),
                                             ({}, None, "os dados não são um dicionário")])
def test_dictionaries_of_the_wrong_type_give_one_error(run, m, d, fragment):
    findings = run(cf.fCtVerificarMapa(model_page(), m, d))
    assert [(f["veredito"], f["mensagem"]) for f in findings] == [("erro", fragment)]


@pytest.mark.parametrize(
    "fmt, text, ok, reason",
    [
        ("DD/MM/YYYY", "10/05/1982", True, None),
        ("DD/MM/YYYY", "1/5/1982", True, None),
        ("dd/mm/yyyy", "10/05/1982", True, None),
        ("DD/MM/YYYY", "10-05-1982", False, "não segue o formato"),
        ("DD/MM/YYYY", "10/05/82", False, "não segue o formato"),
        ("DD/MM/YYYY", " 10/05/1982", False, "não segue o formato"),
        ("DD/MM/YYYY", "10/05/1982 10:00", False, "não segue o formato"),
        ("DD/MM/YYYY", "32/01/2020", False, "dia 32 não existe"),
        ("DD/MM/YYYY", "10/13/2020", False, "mês 13 não existe"),
        ("DD/MM/YYYY", "29/02/2000", True, None),
        ("DD/MM/YYYY", "29/02/1900", False, "não tem dia 29"),
        ("DD/MM/YYYY", "31/04/2021", False, "não tem dia 31"),
        ("DD-MON-YYYY", "01-JAN-2020", True, None),
        ("DD-MON-YYYY", "01-fev-2020", True, None),
        ("DD-MON-YYYY", "30-FEB-2020", False, "não tem dia 30"),
        ("DD-MON-YYYY", "01-01-2020", False, "não segue o formato"),
        ("YYYY-MM-DD", "2024-12-31", True, None),
        ("FMDD/MM/YYYY", "1/12/2024", True, None),
        ("DD/MM/YYYY HH24:MI", "10/05/1982 23:59", True, None),
        ("DD/MM/YYYY HH24:MI", "10/05/1982 24:00", False, "hora 24 não existe"),
        ("DD/MM/YYYY HH:MI AM", "10/05/1982 11:30 PM", True, None),
        ("DD/MM/YYYY HH:MI AM", "10/05/1982 13:30 PM", False, "hora 13 não existe"),
        ("DD/MM/RR", "10/05/82", True, None),
        ('DD "de" MONTH "de" YYYY', "10 de maio de 1982", True, None),
    ],
)
def test_date_texts_against_the_pickers_format(run, fmt, text, ok, reason):
    page = model_page(elements={"#P_NASC": element("a-date-picker", datePicker=True, format=fmt)})
    d = data()
    d["NASC"] = text
    f = finding(check(run, d=d, page=page), "NASC")
    if ok:
        assert f["veredito"] == "ok", f
    else:
        assert f["veredito"] == "erro" and reason in f["mensagem"], f


def test_findings_are_logged_at_the_level_of_their_verdict(run, log):
    m = mapping()
    m["NOME"]["WebSel"] = "#P_NOMEX"
    m["PAIS"]["WebSel"] = "#P_IDIOMAS"
    check(run, m)
    lines = log.lines
    assert lines[0] == ("info", "fCtVerificarMapa -> Inicio da verificacao do mapa")
    assert ("error", "fCtVerificarMapa -> [erro] Formulario.NOME (#P_NOMEX): nenhum elemento encontrado com este seletor") in lines
    assert ("warning", "fCtVerificarMapa -> [aviso] Formulario.PAIS (#P_IDIOMAS): lista de escolha múltipla: "
            "\"dropdownlist\" escolhe um só valor (use \"multiselect\")") in lines
    assert ("info", "fCtVerificarMapa -> [ok] Formulario.OBS (#P_OBS): confere") in lines
    assert lines[-1] == ("info", "fCtVerificarMapa -> 14 verificacoes: 12 ok, 1 aviso, 1 erro")
    # the absent item is waited for once, within the check's budget, before it is judged
    assert lines[1] == ("info", "fCtVerificarMapa -> A aguardar o item #P_NOMEX (no maximo 5000 ms)")
    assert len(lines) == 17


def test_with_debug_off_the_check_logs_nothing_even_without_a_logger(run, vc):
    vc.gDebugDev = False
    vc.objfLog = None
    assert len(check(run)) == 14
