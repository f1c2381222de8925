"""The receipt in real Chromium on the stand-in page: after a complete fill every field, the
representative's items and the grid's cells are equal; after a fill that partly failed each
failure shows as what it is; without APEX the items are read from the markup."""
import json
import pathlib

import pytest

from ziveviver import vexoconferencia as cf
from ziveviver import vexocontrole as vc

MAPA = {
    "NOME_PROPONENTE": {"WebSel": "#P1_NOME", "ColTipo": "text"},
    "DATA_NASCIMENTO": {"WebSel": "#P1_DATA_NASC", "ColTipo": "datepicker"},
    "SEXO": {"WebSel": "#P1_SEXO", "ColTipo": "radio"},
    "CIDADE": {"WebSel": "#P1_CIDADE", "ColTipo": "autocomplete"},
    "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},
    "ESTADO": {"WebSel": "#P1_ESTADO", "ColTipo": "dropdownlist"},
    "PROFISSAO": {"WebSel": "#P1_PROFISSAO", "ColTipo": "popuplovid"},
    "OBSERVACOES": {"WebSel": "#P1_OBS", "ColTipo": "textarea"},
    "CANAL_CONTATO": {"WebSel": "#P1_CANAIS", "ColTipo": "checkboxmultiple"},
    "IDIOMAS": {"WebSel": "#P1_IDIOMAS", "ColTipo": "multiselect"},
    "DATA_ADESAO": {"WebSel": "#P1_DATA_ADESAO", "ColTipo": "date"},
    "Representantes": {
        "REP_NOME": {"WebSel": "#P1_REP_NOME", "ColTipo": "text"},
        "REP_TIPO": {"WebSel": "#P1_REP_TIPO", "ColTipo": "dropdownlist"},
    },
    "Titulares": {
        "TitInserir": {"WebSel": "#TIT_ADD"},
        "TIT_NOME": {"WebSel": "#P2_TIT_NOME", "ColTipo": "text"},
        "TIT_TIPO": {"WebSel": "#P2_TIT_TIPO", "ColTipo": "dropdownlist"},
        "TIT_VINCULO": {"WebSel": "#P2_TIT_VINCULO", "ColTipo": "checkboxmultiple"},
        "TIT_PROFISSAO": {"WebSel": "#P2_TIT_PROF", "ColTipo": "popuplovid"},
        "TitGravar": {"WebSel": "#TIT_SAVE"},
    },
}
DADOS = {
    "NOME_PROPONENTE": "Carlos Nogueira", "DATA_NASCIMENTO": "10/05/1982", "SEXO": "0", "CIDADE": "Belo Horizonte",
    "PAIS": "BR", "ESTADO": "MG", "PROFISSAO": "103", "OBSERVACOES": "Ligar à tarde.\nObrigado.",
    "CANAL_CONTATO": "1", "IDIOMAS": ["PT", "EN"], "DATA_ADESAO": "", "RepAtivarPreenc": 1,
    "Representantes": {"REP_NOME": "Helena Prado", "REP_TIPO": "PROC"},
    "Titulares": [{"TIT_NOME": "Carlos Nogueira", "TIT_TIPO": "PRI", "TIT_VINCULO": "0", "TIT_PROFISSAO": "101"}],
}


def fresh(obj):
    return json.loads(json.dumps(obj))


def summary(rows):
    return [(r["secao"], r["coluna"], r["linha"], r["estado"]) for r in rows]


def test_after_a_complete_fill_everything_is_equal(form, run):
    async def go():
        ctl = vc.VexoControleApex(form)
        await cf.fCtAtivarGuarda(form)
        await ctl.fCtPreencTodoForm(fresh(MAPA), fresh(DADOS))
        await cf.fCtDesativarGuarda(form)
        return await cf.fCtConferirForm(form, fresh(MAPA), fresh(DADOS))

    rows = run(go())
    assert summary(rows) == [
        ("Formulario", c, None, "vazio" if c == "DATA_ADESAO" else "igual")
        for c in MAPA if c not in ("Representantes", "Titulares")
    ] + [
        ("Representantes", "REP_NOME", None, "igual"), ("Representantes", "REP_TIPO", None, "igual"),
        ("Titulares", "linhas gravadas", None, "igual"),
        ("Titulares", "TIT_NOME", 1, "igual"), ("Titulares", "TIT_TIPO", 1, "igual"),
        ("Titulares", "TIT_VINCULO", 1, "igual"), ("Titulares", "TIT_PROFISSAO", 1, "igual"),
    ]
    by = {(r["coluna"], r["linha"]): r for r in rows}
    # each kind as it stores its value
    assert (by[("SEXO", None)]["esperado"], by[("SEXO", None)]["obtido"]) == ("M", "M")
    assert by[("CANAL_CONTATO", None)]["obtido"] == ["EMAIL", "SMS"]  # option 1 beside the page's default
    assert by[("IDIOMAS", None)]["obtido"] == ["PT", "EN"]
    prof = by[("PROFISSAO", None)]
    assert (prof["esperado"], prof["obtido"], prof["exibido"]) == ("103", "103", "Médico")
    # grid cells as the grid shows them
    assert by[("TIT_TIPO", 1)]["esperado"] == "Principal"
    assert by[("TIT_VINCULO", 1)]["esperado"] == "Empregado"
    assert by[("TIT_PROFISSAO", 1)]["obtido"] == "Engenheiro"


def test_after_a_fill_that_partly_failed_each_failure_shows(form, run):
    mapa = {
        "NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
        "PROPOSTA": {"WebSel": "#P1_DESATIVADO", "ColTipo": "text"},  # disabled: the fill leaves it
        "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},      # a value no option has
        "Titulares": {
            "TitInserir": {"WebSel": "#TIT_ADD"},
            "TIT_NOME": {"WebSel": "#P2_TIT_NOME", "ColTipo": "text"},
            "TIT_DATA_NASCIMENTO": {"WebSel": "#P2_TIT_NASC", "ColTipo": "date"},  # the grid skips "date"
            "TIT_VINCULO": {"WebSel": "#P2_TIT_VINCULO", "ColTipo": "checkboxmultiple"},
            "TitGravar": {"WebSel": "#TIT_SAVE"},
        },
        "APELIDO": {"WebSel": "#P1_OCULTO", "ColTipo": "text"},  # after the section key: never reached
    }
    dados = {"NOME": "Ana", "PROPOSTA": "PRP-9", "PAIS": "XX", "APELIDO": "Nina", "RepAtivarPreenc": 0,
             "Titulares": [{"TIT_NOME": "Ana", "TIT_DATA_NASCIMENTO": "01/02/1990", "TIT_VINCULO": "1"}],
             "SOBRENOME": "Lima"}

    async def go():
        await vc.VexoControleApex(form).fCtPreencTodoForm(fresh(mapa), fresh(dados))
        # a field whose item the page does not have: its fill gives up after the time limit
        await vc.fCtPreencText(form, "#P1_SOBRENOME", "Lima", 300)
        receipt_map = fresh(mapa)
        receipt_map["SOBRENOME"] = {"WebSel": "#P1_SOBRENOME", "ColTipo": "text"}
        return await cf.fCtConferirForm(form, receipt_map, fresh(dados))

    rows = run(go())
    by = {(r["coluna"], r["linha"]): r for r in rows}
    got = {k: (r["estado"], r["esperado"], r["obtido"]) for k, r in by.items()}
    assert got == {
        ("NOME", None): ("igual", "Ana", "Ana"),
        ("PROPOSTA", None): ("diferente", "PRP-9", "PRP-2024-0001"),
        ("PAIS", None): ("diferente", "XX", ""),
        ("APELIDO", None): ("diferente", "Nina", ""),
        ("SOBRENOME", None): ("nao_encontrado", "Lima", None),
        ("linhas gravadas", None): ("igual", 1, 1),
        ("TIT_NOME", 1): ("igual", "Ana", "Ana"),
        ("TIT_DATA_NASCIMENTO", 1): ("diferente", "01/02/1990", ""),
        ("TIT_VINCULO", 1): ("igual", "Sócio", "Sócio"),
    }
    assert [r["coluna"] for r in rows][:5] == ["NOME", "PROPOSTA", "PAIS", "APELIDO", "SOBRENOME"]


def test_without_apex_items_are_read_from_the_markup(open_form, run):
    page = open_form("noapex=1")
    mapa = {
        "NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
        "SEXO": {"WebSel": "#P1_SEXO", "ColTipo": "radio"},
        "CANAIS": {"WebSel": "#P1_CANAIS", "ColTipo": "checkboxmultiple"},
        "IDIOMAS": {"WebSel": "#P1_IDIOMAS", "ColTipo": "multiselect"},
        "LIVRE": {"WebSel": "#P1_SEMAPEX", "ColTipo": "text"},
    }
    # the page's own defaults: Feminino (option 1) and E-mail (option 0) are ticked
    dados = {"NOME": "Ana", "SEXO": "1", "CANAIS": "0", "IDIOMAS": ["PT"], "LIVRE": "Rui"}

    async def go():
        await vc.fCtPreencText(page, "#P1_NOME", "Ana")
        await vc.fCtPreencText(page, "#P1_SEMAPEX", "Rui")
        return await cf.fCtConferirForm(page, mapa, dados)

    rows = run(go())
    assert [(r["coluna"], r["estado"], r["obtido"]) for r in rows] == [
        ("NOME", "igual", "Ana"), ("SEXO", "igual", "F"), ("CANAIS", "igual", ["EMAIL"]),
        ("IDIOMAS", "diferente", []), ("LIVRE", "igual", "Rui")]


def test_an_empty_multiselect_list_clears_the_selection_and_the_check_and_receipt_say_so(open_form, run):
    page = open_form()
    mapa = {"IDIOMAS": {"WebSel": "#P1_IDIOMAS", "ColTipo": "multiselect"}}
    dados = {"IDIOMAS": [], "RepAtivarPreenc": 0}

    async def go():
        await page.evaluate("apex.item('P1_IDIOMAS').setValue(['PT', 'EN'])")
        found = await cf.fCtVerificarMapa(page, mapa, dados)
        await vc.VexoControleApex(page, False).fCtPreencTodoForm(mapa, dados)
        return found, await page.evaluate("__zv.dom('P1_IDIOMAS')"), await cf.fCtConferirForm(page, mapa, dados)

    found, selected, rows = run(go())
    assert [(f["veredito"], f["mensagem"]) for f in found if f["coluna"] == "IDIOMAS"] == [
        ("ok", "lista vazia: o preenchimento limpa a seleção")]
    assert selected == []
    assert [(r["estado"], r["esperado"], r["obtido"]) for r in rows] == [("igual", [], [])]


# A page of the tests' own with two grids whose columns are a switch (on "Y", off "N", labels
# Sim / Não) and a single check box (on "SIM", off "NAO"): a row-editor grid, whose rows show
# the switch's label, and an Interactive Grid, read through its model.
TOGGLE_PAGE = (pathlib.Path(__file__).resolve().parent / "pages" / "grades_interruptor.html").as_uri()
TOGGLE_GRIDS = {
    "linhas": {"TitInserir": {"WebSel": "#RED_ADD"}, "ATIVO": {"WebSel": "#P9_ATIVO", "ColTipo": "switch"},
               "AVISO": {"WebSel": "#P9_AVISO", "ColTipo": "checkbox"}, "TitGravar": {"WebSel": "#RED_SAVE"}},
    "ig": {"TitInserir": {"WebSel": "#interruptores_ig_toolbar [data-action='selection-add-row']"},
           "ATIVO": {"WebSel": "#INT_ATIVO", "ColTipo": "switch"}, "AVISO": {"WebSel": "#INT_AVISO", "ColTipo": "checkbox"},
           "TitGravar": {"WebSel": "#interruptores_ig_toolbar [data-action='save']"}},
}


@pytest.mark.parametrize("grade", sorted(TOGGLE_GRIDS))
def test_switch_and_check_box_cells_read_back_by_their_on_off_words(new_page, run, grade):
    page = run(new_page())
    run(page.goto(TOGGLE_PAGE))
    run(page.wait_for_function("window.__zv && window.__zv.ready === true"))
    mapa = {"Titulares": TOGGLE_GRIDS[grade]}
    filled = [{"ATIVO": True, "AVISO": "Não"}, {"ATIVO": "N", "AVISO": 1}]
    run(vc.VexoControleApex(page).fCtPreencTodoForm(fresh(mapa), {"RepAtivarPreenc": 0, "Titulares": fresh(filled)}))

    def receipt(records):
        rows = run(cf.fCtConferirForm(page, fresh(mapa), {"RepAtivarPreenc": 0, "Titulares": records}))
        return [(r["coluna"], r["linha"], r["estado"], r["esperado"], r["obtido"]) for r in rows]

    # the cells as the grid shows them: a row-editor grid the switch's label, the model its value
    on, off = ("Sim", "Não") if grade == "linhas" else ("Y", "N")
    assert receipt(fresh(filled)) == [
        ("linhas gravadas", None, "igual", 2, 2),
        ("ATIVO", 1, "igual", on, on), ("AVISO", 1, "igual", "NAO", "NAO"),
        ("ATIVO", 2, "igual", off, off), ("AVISO", 2, "igual", "SIM", "SIM"),
    ]
    # the other word of each, its own value, and a word that says neither
    wrong = [{"ATIVO": "0", "AVISO": "SIM"}, {"ATIVO": "talvez", "AVISO": False}]
    assert receipt(wrong) == [
        ("linhas gravadas", None, "igual", 2, 2),
        ("ATIVO", 1, "diferente", off, on), ("AVISO", 1, "diferente", "SIM", "NAO"),
        ("ATIVO", 2, "diferente", "talvez (nem ligado nem desligado)", off), ("AVISO", 2, "diferente", "NAO", "SIM"),
    ]
