"""The receipt against a fake page whose read-back scripts answer from a model: each widget kind
compared as it stores its value, blank and missing items, the representative, the grids read
from the rows their region shows, and what the receipt logs and leaves untouched."""
import copy

import pytest

from conferencia_pagina import ModelPage
from ziveviver import vexoconferencia as cf


def receipt(run, mapping, data, read=None, grid=None):
    page = ModelPage(read=read, grid=grid)
    rows = run(cf.fCtConferirForm(page, mapping, data))
    return rows, page


def one(run, kind, value, answer, selector="#P_X"):
    rows, _ = receipt(run, {"X": {"WebSel": selector, "ColTipo": kind}}, {"X": value},
                      read={"P_X": answer} if answer is not None else {})
    assert len(rows) == 1
    return rows[0]


@pytest.mark.parametrize(
    "kind, value, answer, estado, esperado",
    [
        ("text", "Ana", {"value": "Ana"}, "igual", "Ana"),
        ("text", "Ana", {"value": "ana"}, "diferente", "Ana"),
        ("TEXT", 0, {"value": "0"}, "igual", "0"),
        ("text", " Ana ", {"value": "Ana"}, "diferente", " Ana "),  # the text fill does not trim
        ("text", None, {"value": "Ana"}, "vazio", None),
        ("text", "   ", {"value": ""}, "vazio", None),
        ("autocomplete", "Porto", {"value": "Porto"}, "igual", "Porto"),
        ("textarea", "a\r\nb", {"value": "a\nb"}, "igual", "a\r\nb"),
        ("textarea", "a\nb", {"value": "a b"}, "diferente", "a\nb"),
        ("dropdownlist", 5, {"value": "5"}, "igual", "5"),
        ("dropdownlist", "MG", {"value": ""}, "diferente", "MG"),
        ("date", "10/05/1982", {"value": "10/05/1982"}, "igual", "10/05/1982"),
        ("DatePicker", "10/05/1982", {"value": "1982-05-10"}, "diferente", "10/05/1982"),
        # radio and check box: the data names a position; the option there holds the value
        ("radio", " 0 ", {"value": "M", "options": {"0": "M", "1": "F"}}, "igual", "M"),
        ("radio", "1", {"value": "M", "options": {"0": "M", "1": "F"}}, "diferente", "F"),
        ("radio", "7", {"value": "M", "options": {"0": "M", "1": "F"}}, "diferente", "7 (opção inexistente)"),
        ("checkboxmultiple", "1", {"value": ["EMAIL", "SMS"], "options": {"0": "EMAIL", "1": "SMS"}}, "igual", "SMS"),
        ("checkboxmultiple", "1", {"value": "EMAIL:SMS", "options": {"0": "EMAIL", "1": "SMS"}}, "igual", "SMS"),
        ("checkboxmultiple", "1", {"value": ["EMAIL"], "options": {"0": "EMAIL", "1": "SMS"}}, "diferente", "SMS"),
        # multi-value items: the same values in any order
        ("multiselect", ["PT", "EN"], {"value": ["EN", "PT"]}, "igual", ["PT", "EN"]),
        ("multiselect", ["PT", 1], {"value": "1:PT"}, "igual", ["PT", "1"]),
        ("multiselect", ["PT", "EN"], {"value": ["PT"]}, "diferente", ["PT", "EN"]),
        ("multiselect", "PT", {"value": ["P", "T"]}, "diferente", ["PT"]),
        # an empty list clears the selection: what the page holds is compared with nothing
        ("multiselect", [], {"value": []}, "igual", []),
        ("multiselect", [], {"value": ["PT"]}, "diferente", []),
        # popup LOV: the return value, trimmed; the fill's placeholders count as blank
        ("popuplovid", " 101 ", {"value": "101", "display": "Engenheiro"}, "igual", "101"),
        ("popuplovid", 12.0, {"value": "12", "display": "Dentista"}, "diferente", "12.0"),
        ("popuplovid", "0", {"value": "", "display": ""}, "vazio", None),
        ("popuplovid", "null", {"value": "", "display": ""}, "vazio", None),
        ("popuplovid", False, {"value": "", "display": ""}, "vazio", None),
    ],
)
def test_each_kind_is_compared_as_it_stores_its_value(run, kind, value, answer, estado, esperado):
    row = one(run, kind, value, answer)
    assert (row["estado"], row["esperado"]) == (estado, esperado), row
    assert row["obtido"] == answer["value"]


def test_a_popup_lov_row_carries_its_display_value(run):
    row = one(run, "popuplovid", "101", {"value": "101", "display": "Engenheiro"})
    assert row == {"secao": "Formulario", "coluna": "X", "linha": None, "seletor": "#P_X", "tipo": "popuplovid",
                   "estado": "igual", "esperado": "101", "obtido": "101", "exibido": "Engenheiro"}
    assert one(run, "text", "a", {"value": "a", "display": "ignored"})["exibido"] is None


@pytest.mark.parametrize("value, esperado", [("Ana", "Ana"), (None, None)])
def test_an_item_the_page_does_not_have_is_not_found(run, value, esperado):
    row = one(run, "text", value, None)
    assert (row["estado"], row["esperado"], row["obtido"]) == ("nao_encontrado", esperado, None)


def test_a_configuration_without_a_selector_is_not_found(run):
    rows, page = receipt(run, {"X": {"ColTipo": "text"}, "Y": "not a dict"}, {"X": "a", "Y": "b"})
    assert [(r["coluna"], r["estado"], r["esperado"]) for r in rows] == [("X", "nao_encontrado", "a"),
                                                                          ("Y", "nao_encontrado", "b")]
    assert page.scripts == []


def test_the_read_back_gets_the_selector_item_id_kind_and_position(run):
    _, page = receipt(run, {"S": {"WebSel": "#P_S", "ColTipo": "Radio"}, "T": {"WebSel": "#P_T", "ColTipo": "Date"}},
                      {"S": " 2 ", "T": "x"})
    assert page.scripts == [("ler_item", ["#P_S", "P_S", "radio", "2"]), ("ler_item", ["#P_T", "P_T", "datepicker", None])]


def full_mapping():
    return {
        "NOME": {"WebSel": "#P_NOME", "ColTipo": "text"},
        "Representantes": {"R_NOME": {"WebSel": "#P_RNOME", "ColTipo": "text"}},
        "TARDE": {"WebSel": "#P_TARDE", "ColTipo": "text"},
        "Titulares": {
            "TitInserir": {"WebSel": "#TIT_ADD"},
            "T_NOME": {"WebSel": "#P2_NOME", "ColTipo": "text"},
            "T_TIPO": {"WebSel": "#P2_TIPO", "ColTipo": "dropdownlist"},
            "T_VINC": {"WebSel": "#P2_VINC", "ColTipo": "checkboxmultiple"},
            "T_PROF": {"WebSel": "#P2_PROF", "ColTipo": "popuplovid"},
            "T_NASC": {"WebSel": "#P2_NASC", "ColTipo": "date"},  # a kind the grid skips
            "TitGravar": {"WebSel": "#TIT_SAVE"},
        },
    }


def full_data(flag=1):
    return {
        "NOME": "Ana", "TARDE": "x", "RepAtivarPreenc": flag, "Representantes": {"R_NOME": "Rita"},
        "Titulares": [
            {"T_NOME": "Rui", "T_TIPO": "PRI", "T_VINC": "0", "T_PROF": "101", "T_NASC": "01/01/1980"},
            {"T_NOME": "Eva", "T_TIPO": "COT", "T_VINC": "1"},
        ],
    }


TIT_SHOWN = {
    "P2_NOME": {"index": 0},
    "P2_TIPO": {"index": 1, "shown": {"PRI": "Principal", "COT": "Cotitular"}.get},
    "P2_VINC": {"index": 2, "shown": {"0": "Empregado", "1": "Sócio"}.get},
    "P2_PROF": {"index": 3, "shown": {"101": "Engenheiro"}.get},
    "P2_NASC": {"index": 4},
}


def grid(rows, columns=TIT_SHOWN):
    return {"#TIT_ADD": {"headers": ["Nome", "Tipo", "Vínculo", "Profissão", "Nascimento"], "rows": rows,
                         "columns": columns}}


READ = {"P_NOME": {"value": "Ana"}, "P_RNOME": {"value": "Rita"}, "P_TARDE": {"value": ""}}


def test_fields_representative_and_grid_in_order(run):
    rows, page = receipt(run, full_mapping(), full_data(), READ, grid([
        ["Rui", "Principal", "Empregado", "Engenheiro", ""],
        ["Eva", "Cotitular", "Empregado, Sócio", "", ""],
    ]))
    got = [(r["secao"], r["coluna"], r["linha"], r["estado"], r["esperado"], r["obtido"]) for r in rows]
    assert got == [
        ("Formulario", "NOME", None, "igual", "Ana", "Ana"),
        # after the section key: never filled, and the receipt shows it
        ("Formulario", "TARDE", None, "diferente", "x", ""),
        ("Representantes", "R_NOME", None, "igual", "Rita", "Rita"),
        ("Titulares", "linhas gravadas", None, "igual", 2, 2),
        ("Titulares", "T_NOME", 1, "igual", "Rui", "Rui"),
        ("Titulares", "T_TIPO", 1, "igual", "Principal", "Principal"),
        ("Titulares", "T_VINC", 1, "igual", "Empregado", "Empregado"),
        ("Titulares", "T_PROF", 1, "igual", "Engenheiro", "Engenheiro"),
        ("Titulares", "T_NASC", 1, "diferente", "01/01/1980", ""),
        ("Titulares", "T_NOME", 2, "igual", "Eva", "Eva"),
        ("Titulares", "T_TIPO", 2, "igual", "Cotitular", "Cotitular"),
        ("Titulares", "T_VINC", 2, "igual", "Sócio", "Empregado, Sócio"),
        ("Titulares", "T_PROF", 2, "vazio", None, ""),
        ("Titulares", "T_NASC", 2, "vazio", None, ""),
    ]
    summary = rows[3]
    assert (summary["seletor"], summary["tipo"]) == ("#TIT_ADD", "grade")
    # what the grid read was asked: per column the values the data gives, blanks as None
    grid_args = [a for name, a in page.scripts if name == "ler_grade"]
    assert grid_args == [["#TIT_ADD", [["P2_NOME", "text", ["Rui", "Eva"]], ["P2_TIPO", "dropdownlist", ["PRI", "COT"]],
                                       ["P2_VINC", "checkboxmultiple", ["0", "1"]], ["P2_PROF", "popuplovid", ["101", None]],
                                       ["P2_NASC", "datepicker", ["01/01/1980", None]]]]]


@pytest.mark.parametrize("flag", [0, "1", None])
def test_the_representative_is_left_out_unless_the_fill_fills_it(run, flag):
    rows, _ = receipt(run, full_mapping(), full_data(flag), READ, grid([]))
    assert not [r for r in rows if r["secao"] == "Representantes"]


def test_grid_cells_that_differ_or_are_missing(run):
    rows, _ = receipt(run, full_mapping(), full_data(), READ, grid([["Rui", "Cotitular", "Sócio", "Engenheiro", ""]]))
    cells = {(r["coluna"], r["linha"]): r for r in rows if r["secao"] == "Titulares"}
    assert (cells[("linhas gravadas", None)]["estado"], cells[("linhas gravadas", None)]["obtido"]) == ("diferente", 1)
    assert (cells[("T_TIPO", 1)]["estado"], cells[("T_TIPO", 1)]["esperado"], cells[("T_TIPO", 1)]["obtido"]) == \
        ("diferente", "Principal", "Cotitular")
    assert cells[("T_VINC", 1)]["estado"] == "diferente"
    # the second record has no row: its cells are not found, the expected text still given
    assert (cells[("T_NOME", 2)]["estado"], cells[("T_NOME", 2)]["esperado"], cells[("T_NOME", 2)]["obtido"]) == \
        ("nao_encontrado", "Eva", None)
    assert (cells[("T_TIPO", 2)]["estado"], cells[("T_TIPO", 2)]["esperado"]) == ("nao_encontrado", "Cotitular")


def test_the_records_are_the_last_rows_the_grid_shows(run):
    rows, _ = receipt(run, full_mapping(), full_data(), READ, grid([
        ["Velho", "Principal", "", "", ""],
        ["Rui", "Principal", "Empregado", "Engenheiro", ""],
        ["Eva", "Cotitular", "Sócio", "", ""],
    ]))
    cells = {(r["coluna"], r["linha"]): r for r in rows if r["secao"] == "Titulares"}
    assert (cells[("linhas gravadas", None)]["estado"], cells[("linhas gravadas", None)]["obtido"]) == ("diferente", 3)
    assert cells[("T_NOME", 1)]["obtido"] == "Rui" and cells[("T_NOME", 2)]["obtido"] == "Eva"


def test_cells_the_page_does_not_let_be_read(run):
    columns = dict(TIT_SHOWN)
    columns["P2_NOME"] = {"index": -1}  # no header carries the item's label
    columns["P2_PROF"] = {"index": 3, "shown": lambda w: None}  # the LOV's rows are not in the page
    columns["P2_VINC"] = {"index": 2, "shown": lambda w: False}  # the group has no such option
    rows, _ = receipt(run, full_mapping(), full_data(), READ, grid([["Rui", "Principal", "", "", ""],
                                                                    ["Eva", "Cotitular", "", "", ""]], columns))
    cells = {(r["coluna"], r["linha"]): r for r in rows if r["secao"] == "Titulares"}
    assert (cells[("T_NOME", 1)]["estado"], cells[("T_NOME", 1)]["esperado"], cells[("T_NOME", 1)]["obtido"]) == \
        ("nao_conferido", "Rui", None)
    assert (cells[("T_PROF", 1)]["estado"], cells[("T_PROF", 1)]["esperado"]) == ("nao_conferido", "101")
    assert (cells[("T_VINC", 1)]["estado"], cells[("T_VINC", 1)]["esperado"]) == ("diferente", "0 (opção inexistente)")


def test_a_grid_whose_rows_cannot_be_read_gives_one_row(run):
    rows, _ = receipt(run, full_mapping(), full_data(), READ, grid=None)
    tit = [r for r in rows if r["secao"] == "Titulares"]
    assert [(r["coluna"], r["estado"], r["esperado"], r["obtido"]) for r in tit] == [
        ("linhas gravadas", "nao_conferido", 2, None)]


@pytest.mark.parametrize("records", [[], None, "Rui"])
def test_grids_without_records_give_no_rows(run, records):
    d = full_data()
    d["Titulares"] = records
    rows, page = receipt(run, full_mapping(), d, READ, grid([]))
    assert not [r for r in rows if r["secao"] == "Titulares"]
    assert not [n for n, _ in page.scripts if n == "ler_grade"]


def test_the_receipt_changes_neither_the_dictionaries_nor_the_page(run):
    m, d = full_mapping(), full_data()
    m0, d0 = copy.deepcopy(m), copy.deepcopy(d)
    _, page = receipt(run, m, d, READ, grid([]))
    assert m == m0 and d == d0
    assert {op for op, _, _ in page.ops} == {"evaluate"}
    assert {n for n, _ in page.scripts} == {"ler_item", "ler_grade"}


@pytest.mark.parametrize("m, d", [(["x"], {}), ({}, ["x"])])
def test_dictionaries_of_the_wrong_type_are_refused(run, m, d):
    with pytest.raises(TypeError, match="fCtConferirForm -> "):
        run(cf.fCtConferirForm(ModelPage(), m, d))


def test_rows_are_logged_and_summed_up(run, log):
    receipt(run, full_mapping(), full_data(), READ, grid([["Rui", "Principal", "Empregado", "Engenheiro", ""]]))
    lines = log.lines
    assert lines[0] == ("info", "fCtConferirForm -> Inicio da conferencia do formulario")
    assert ("info", "fCtConferirForm -> [igual] Formulario.NOME: esperado 'Ana', na pagina 'Ana'") in lines
    assert ("warning", "fCtConferirForm -> [diferente] Formulario.TARDE: esperado 'x', na pagina ''") in lines
    assert ("warning", "fCtConferirForm -> [nao_encontrado] Titulares.T_NOME (linha 2): esperado 'Eva', na pagina None") in lines
    assert lines[-1] == ("info", "fCtConferirForm -> 14 linhas: 6 iguais, 2 vazias, 3 diferentes, "
                                 "3 nao encontradas, 0 nao conferidas")


def test_with_debug_off_nothing_is_logged_even_without_a_logger(run, vc):
    vc.gDebugDev = False
    vc.objfLog = None
    rows, _ = receipt(run, full_mapping(), full_data(), READ, grid([]))
    assert len(rows) == 14
