"""The grids when the add button sits in an APEX Interactive Grid, on the recording page: the
add button's grid is asked once per row, before its click; each cell is activated before its
fill; the save pause knows the grid; a cell the grid cannot activate is said and still filled;
an activation that fails is a cell failure (exit status 1)."""
import pytest

from fakepage import FakeHandle
from scripts_of import script, script_name
from test_grids import CELL_METHODS, GRIDS, col, ctl, fill, mapping, nested, non_log  # noqa: F401

import types


@pytest.fixture
def grid():
    return types.SimpleNamespace(name="holders", **GRIDS["holders"])


def in_an_ig(page, activation="ativada"):
    """The add button's wait hands back a button of the IG "titulares"; cell activations answer
    `activation`."""
    page.on("wait_for_selector", call=lambda sel, kw: FakeHandle(page, "titulares") if "ADD" in sel else None)
    page.on("evaluate", call=lambda sel, kw: activation if script_name(kw["script"]) == "celula_ig" else None)


def named(op):
    if op[0] == "cell":
        return op[:3]
    name, sel, kw = op
    if name in ("evaluate", "handle.evaluate"):
        return (name, script_name(kw["script"]), kw["args"])
    return (name, sel)


def test_each_cell_is_activated_before_its_fill(vc, grid, nested, ctl, page, run):
    in_an_ig(page)
    m = mapping(grid, NOME=col("#TIT_NOME"), PROF=col("#TIT_PROF", "popuplovid"), OBS=col("#OBS", "radio"))
    run(fill(vc, grid, ctl, m, [{"NOME": "Ana", "PROF": "103"}]))
    assert [named(op) for op in non_log(page)] == [
        ("wait_for_selector", "#TIT_ADD:not([disabled])"),
        ("handle.evaluate", "grelha_ig", ()), ("handle.dispose", None),
        ("click", "#TIT_ADD"), ("wait_for_timeout", None),
        ("evaluate", "celula_ig", (["titulares", "#TIT_NOME"],)),
        ("cell", "fCtPreencText", ("#TIT_NOME", "Ana")),
        ("evaluate", "celula_ig", (["titulares", "#TIT_PROF"],)),
        ("cell", "fCtApexPreencPopupLovId", ("#TIT_PROF", "103")),
        # a kind the grids do not fill is not activated either
        ("wait_for_selector", "#TIT_SAVE:not([disabled])"), ("click", "#TIT_SAVE"), ("wait_for_timeout", None),
    ]


def test_a_cell_the_grid_cannot_activate_is_said_and_still_filled(vc, grid, nested, ctl, log, page, run):
    in_an_ig(page, "sem_linha")
    run(fill(vc, grid, ctl, mapping(grid, NOME=col("#TIT_NOME")), [{"NOME": "Ana"}]))
    assert ("cell", "fCtPreencText", ("#TIT_NOME", "Ana")) in [named(op) for op in page.ops]
    assert [m for m in log.messages("warning") if "nao ativada" in m] == [
        "VexoControleApex -> fPreencGridTitular -> Celula da grelha titulares nao ativada (sem_linha): #TIT_NOME"]


def test_an_activation_that_fails_is_a_cell_failure(vc, grid, nested, ctl, log, page, run):
    in_an_ig(page)
    page.on("evaluate", raises=RuntimeError("apex is not defined"))
    with pytest.raises(SystemExit) as ex:
        run(fill(vc, grid, ctl, mapping(grid, NOME=col("#TIT_NOME")), [{"NOME": "Ana"}, {"NOME": "Rui"}]))
    assert ex.value.code == 1
    assert [op for op in page.ops if op[0] == "cell"] == []
    assert [op[1] for op in page.ops if op[0] == "click"] == ["#TIT_ADD"]
    line = [m for m in log.messages("error")][0]
    assert line.startswith(grid.cell + "NOME: apex is not defined Traceback (most recent call last):\n")


def test_the_pauses_are_told_the_grid(vc, grid, nested, ctl, page, run):
    from ziveviver import ritmo

    in_an_ig(page)
    page.on("wait_for_function", call=lambda sel, kw: FakeHandle(page, "pronto"))
    with ritmo.adaptativo():
        run(fill(vc, grid, ctl, mapping(grid, NOME=col("#TIT_NOME")), [{"NOME": "Ana"}]))
    waits = [op[2] for op in page.ops if op[0] == "wait_for_function"]
    args = [kw["arg"] for kw in waits]
    assert [(a["ponto"], a["grelha"]) for a in args] == [("grelha_inserir", "titulares"), ("grelha_gravar", "titulares")]
    assert [kw["script"] for kw in waits] == [script("ritmo")] * 2
