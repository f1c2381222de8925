"""The runner's fill on the recording page: the progress it prints (fields, sections, grid
rows, rows left unsaved), the failures it names, and that watching leaves the whole-form
fill exactly as it is (same page operations, same log lines, same "ColNome" writes, the
module and the controller restored afterwards). The field fills are recorders; the
dispatcher, the whole-form fill and the grids are the real ones."""
import copy

import pytest

from fakepage import FakePage, RecordingLogger, TimeoutError
from ziveviver.executor import progress

FILLS = ["fCtPreencText", "fCtPreencTextArea", "fCtApexPreencDropDownList", "fCtPreencCheckRadio",
         "fCtPreencCheckMultiple", "fCtApexPreencPopupLovId", "fCtPreencDatepicker",
         "fCtApexPreencMultiSelect", "fCtPreencAutoComplete"]

MAPPING = {
    "A": {"WebSel": "#A", "ColTipo": "text"},
    "B": {"WebSel": "#B", "ColTipo": "textarea"},
    "Beneficiarios": {"BenInserir": {"WebSel": "#BEN_ADD"}, "N": {"WebSel": "#N", "ColTipo": "text"},
                      "BenGravar": {"WebSel": "#BEN_SAVE"}},
    "Representantes": {"R": {"WebSel": "#R", "ColTipo": "text"}},
    "Titulares": {"TitInserir": {"WebSel": "#TIT_ADD"}, "T": {"WebSel": "#T", "ColTipo": "text"},
                  "U": {"WebSel": "#U", "ColTipo": "dropdownlist"}, "TitGravar": {"WebSel": "#TIT_SAVE"}},
    "DEPOIS": {"WebSel": "#DEPOIS", "ColTipo": "text"},
}
DATA = {"A": "a", "B": "", "DEPOIS": "x", "RepAtivarPreenc": 1, "Representantes": {"R": "r"},
        "Titulares": [{"T": "t1", "U": "u1"}, {"T": "t2"}], "Beneficiarios": [{"N": "n1"}]}


@pytest.fixture
def fills(vc):
    """Every field fill replaced by a recorder into the page's ops; the value "FALHA" raises."""
    def make(name):
        async def fill(pPage, pWebSel, value, *rest):
            pPage.ops.append(("fill", pWebSel, {"fill": name, "value": value}))
            if value == "FALHA":
                raise RuntimeError("item recusou o valor")
        return fill

    for name in FILLS:
        setattr(vc, name, make(name))


@pytest.fixture
def recorder(vc):
    """Debug on, every controller's logger (nested ones included) a recording logger."""
    logger = RecordingLogger()

    class Factory:
        @staticmethod
        def fLog(**kwargs):
            return logger

    vc.VexoFuncoes = Factory
    return logger


def fill(run, page, mapping, data, **kw):
    lines = []
    outcome = run(progress.fill_form(page, mapping, data, write=lines.append, **kw))
    return outcome, lines


def fields_filled(page):
    return [(sel, kw["value"]) for sel, kw in page.calls("fill")]


def test_progress_follows_fields_sections_and_rows(vc, fills, page, run, capsys):
    page.on("wait_for_selector", selector="#TIT_ADD:not([disabled])", raises=TimeoutError("15000 ms"), times=1)
    outcome, lines = fill(run, page, copy.deepcopy(MAPPING), DATA)
    assert lines == [
        "A preencher 8 campos: 2 do formulário, 1 do representante, 2 linhas de Titulares, "
        "1 linha de Beneficiários.",
        "[1/8] Formulário: A (text)",
        "[2/8] Formulário: B (textarea) (sem valor)",
        "[3/8] Representante: R (text)",
        "Titulares: 2 linhas a preencher",
        "      Titulares: linha 1 de 2...",
        "      Titulares: linha 2 de 2...",
        "[7/8] Titulares: linha 2 de 2 gravada",
        "Beneficiários: 1 linha a preencher",
        "      Beneficiários: linha 1 de 1...",
        "[8/8] Beneficiários: linha 1 de 1 gravada",
    ]
    assert capsys.readouterr().err == (
        "Aviso: Titulares: a linha 1 de 2 não foi gravada (o botão de acrescentar ou de gravar não "
        "respondeu; veja o registo de depuração, com --debug).\n")
    assert (outcome.complete, outcome.error, outcome.unsaved) == (True, None, [("Titulares", 1)])
    # the row that could not start was never filled; the field after the sections never is
    assert fields_filled(page) == [("#A", "a"), ("#B", ""), ("#R", "r"), ("#T", "t2"), ("#U", ""),
                                   ("#N", "n1")]


def test_a_row_whose_save_fails_is_reported_unsaved(vc, fills, page, run, capsys):
    page.on("click", selector="#BEN_SAVE", raises=TimeoutError("click"))
    outcome, lines = fill(run, page, copy.deepcopy(MAPPING), DATA)
    assert lines[-1] == "      Beneficiários: linha 1 de 1..."
    assert outcome.complete and outcome.unsaved == [("Beneficiários", 1)]
    assert "Beneficiários: a linha 1 de 1 não foi gravada" in capsys.readouterr().err


def test_watching_leaves_the_whole_form_fill_unchanged(vc, fills, recorder, run):
    plain_page, watched_page = FakePage(), FakePage()
    plain_map, watched_map = copy.deepcopy(MAPPING), copy.deepcopy(MAPPING)
    real_dispatch = vc.fCtApexIdentTipoCampoPreenc

    run(vc.VexoControleApex(plain_page, True).fCtPreencTodoForm(plain_map, copy.deepcopy(DATA)))
    plain_log = list(recorder.lines)
    recorder.lines.clear()
    controllers = []
    outcome, _ = fill(run, watched_page, watched_map, copy.deepcopy(DATA), debug=True,
                      controller_out=controllers)

    assert outcome.complete
    assert watched_page.ops == plain_page.ops
    assert recorder.lines == plain_log
    assert any("fCtPreencTodoForm -> configs recebidos" in m for _, m in recorder.lines)
    assert watched_map == plain_map  # the same "ColNome" entries
    assert watched_map["A"]["ColNome"] == "A" and "ColNome" not in watched_map["DEPOIS"]
    # the module's dispatcher and the controller's own methods are back
    assert vc.fCtApexIdentTipoCampoPreenc is real_dispatch
    assert not {"fCtApexPreencRepres", "fPreencGridTitular", "fPreencGridBeneficiario"} & set(
        vars(controllers[0]))


@pytest.mark.parametrize("change, error, last_fill, saved_rows", [
    (lambda d: d.update(B="FALHA"),
     'o preenchimento parou no campo "B" (textarea, #B): RuntimeError: item recusou o valor',
     ("#B", "FALHA"), 0),
    (lambda d: d["Representantes"].update(R="FALHA"),
     'o preenchimento parou no campo "R" (text, #R): RuntimeError: item recusou o valor',
     ("#R", "FALHA"), 0),
    # a grid cell ends the run (exit status 1 inside the grid); its row stays unsaved
    (lambda d: d["Titulares"][1].update(T="FALHA"),
     "uma célula da linha 2 de Titulares falhou e o preenchimento parou (a linha não foi gravada).",
     ("#T", "FALHA"), 1),
], ids=["field", "representative", "grid cell"])
def test_a_failure_names_where_the_fill_stopped(vc, fills, page, run, change, error, last_fill, saved_rows):
    real_dispatch = vc.fCtApexIdentTipoCampoPreenc
    data = copy.deepcopy(DATA)
    change(data)
    outcome, _ = fill(run, page, copy.deepcopy(MAPPING), data)
    assert (outcome.complete, outcome.error) == (False, error)
    assert fields_filled(page)[-1] == last_fill
    assert [sel for sel, _ in page.calls("click")].count("#TIT_SAVE") == saved_rows
    assert vc.fCtApexIdentTipoCampoPreenc is real_dispatch
