"""The pacing (ziveviver.ritmo): its context managers and how tasks inherit them, and what
the fills' pause points do under the adaptive pacing against the recording page: the
condition waited for, the literal pause it falls back to, and the fallback's log line.
(Under the literal pacing the fills' own tests pin every pause.)"""
import asyncio

import pytest

from fakepage import FakeHandle, TimeoutError
from ziveviver import ritmo

FOUND = {"success": True, "foundId": "105", "foundDisp": "Advogado"}
GRID = {"TitInserir": {"WebSel": "#TIT_ADD"}, "TIT_NOME": {"WebSel": "#P2_TIT_NOME", "ColTipo": "text"},
        "TitGravar": {"WebSel": "#TIT_SAVE"}}


# ----------------------------------------------------------------------- the context managers

def test_literal_is_the_default_and_each_block_sets_its_pacing_until_it_ends():
    assert ritmo.atual() == "literal"
    with ritmo.adaptativo() as name:
        assert name == ritmo.atual() == "adaptativo"
        with ritmo.literal():
            assert ritmo.atual() == "literal"
        assert ritmo.atual() == "adaptativo"
        with ritmo.definir("literal"):
            assert ritmo.atual() == "literal"
    assert ritmo.atual() == "literal"


def test_a_block_ended_by_an_error_restores_the_pacing():
    with pytest.raises(KeyError):
        with ritmo.adaptativo():
            raise KeyError("x")
    assert ritmo.atual() == "literal"


def test_tasks_keep_the_pacing_of_the_block_they_were_created_in():
    async def seen(delay=0):
        await asyncio.sleep(delay)
        return ritmo.atual()

    async def main():
        with ritmo.adaptativo():
            inside = asyncio.ensure_future(seen(0.01))  # still running after the block ends
        after = asyncio.ensure_future(seen())

        async def own(name):
            with ritmo.definir(name):
                await asyncio.sleep(0.01)
                return ritmo.atual()

        siblings = await asyncio.gather(own("adaptativo"), own("literal"), own("adaptativo"))
        return await inside, await after, siblings, ritmo.atual()

    assert asyncio.run(main()) == ("adaptativo", "literal", ["adaptativo", "literal", "adaptativo"], "literal")


@pytest.mark.parametrize("setter", [ritmo.definir, lambda name: ritmo.definir(name).__enter__()])
@pytest.mark.parametrize("name", ["rapido", "Adaptativo", "", None, 1])
def test_an_unknown_name_raises_valueerror_naming_the_accepted_ones(setter, name):
    with pytest.raises(ValueError) as info:
        setter(name)
    assert "'literal'" in str(info.value) and "'adaptativo'" in str(info.value)
    assert repr(name) in str(info.value)
    assert ritmo.atual() == "literal"


# ------------------------------------------------------------------ pause points, adaptive

@pytest.fixture
def adaptive():
    with ritmo.adaptativo():
        yield


def verdict(page, value):
    """The page answers every condition wait with `value`."""
    page.on("wait_for_function", call=lambda sel, kw: FakeHandle(page, value))


def conditions(page):
    """(ponto, polling, timeout) of each condition wait made."""
    return [(kw["arg"]["ponto"], kw["polling"], kw["timeout"]) for op, _, kw in page.ops
            if op == "wait_for_function"]


def pauses(page):
    return [kw["args"][0] for op, _, kw in page.ops if op == "wait_for_timeout"]


def fallback_lines(log):
    return [m for m in log.messages("info") if "Ritmo adaptativo" in m]


@pytest.mark.usefixtures("adaptive")
def test_idle_wait_is_one_condition_wait_within_its_limit_and_no_pause(vc, log, page, run):
    verdict(page, "pronto")
    run(vc.fCtApexWaitStable(page, 1234))
    assert page.names() == ["wait_for_function", "handle.json_value", "handle.dispose"]
    assert conditions(page) == [("ocioso", 100, 1234)]
    arg = page.ops[0][2]["arg"]
    assert arg["quieto"] > 0 and arg["item"] is None
    assert fallback_lines(log) == []


@pytest.mark.usefixtures("adaptive")
@pytest.mark.parametrize("outcome, why", [
    ({"raises": TimeoutError("Timeout 5000ms exceeded.")}, "sem resposta em 5000 ms"),
    ({"value": "sem_sinal"}, "sem sinal da página"),
    ({"raises": RuntimeError("Execution context was destroyed")}, "falhou: Execution context was destroyed"),
])
def test_idle_wait_falls_back_to_the_literal_pause_and_says_so_once(vc, log, page, run, outcome, why):
    if "raises" in outcome:
        page.on("wait_for_function", raises=outcome["raises"])
    else:
        verdict(page, outcome["value"])
    run(vc.fCtApexWaitStable(page))
    assert pauses(page) == [300]
    assert fallback_lines(log) == [f"fCtApexWaitStable -> Ritmo adaptativo: espera_estavel {why}; segue o ritmo literal"]


@pytest.mark.usefixtures("adaptive")
def test_fallback_without_debug_pauses_without_a_line(vc, page, run):
    from fakepage import RecordingLogger

    vc.objfLog, vc.gDebugDev = RecordingLogger(), False
    page.on("wait_for_function", raises=TimeoutError("t"))
    run(vc.fCtApexWaitStable(page))
    assert pauses(page) == [300] and vc.objfLog.lines == []


@pytest.mark.usefixtures("adaptive")
@pytest.mark.parametrize("error", [asyncio.CancelledError, KeyboardInterrupt])
def test_cancellation_during_a_condition_wait_is_never_a_fallback(vc, log, page, run, error):
    page.on("wait_for_function", raises=error)
    with pytest.raises(error):
        run(vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "105"))
    assert page.names()[-1] == "wait_for_function" and pauses(page) == []
    assert fallback_lines(log) == []


@pytest.mark.usefixtures("adaptive")
def test_popup_lov_waits_on_its_conditions_and_closes_at_once(vc, log, page, run):
    page.on("evaluate", FOUND)
    verdict(page, "pronto")
    run(vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", " 105 "))
    assert conditions(page) == [("lov_aberto", 100, 10000), ("lov_fechado", 100, 3000), ("ocioso", 100, 5000),
                                ("ocioso", 100, 5000)]
    waits = [kw["arg"] for op, _, kw in page.ops if op == "wait_for_function"]
    assert [(a["item"], a["valor"]) for a in waits[:2]] == [("P1_PROFISSAO", None), ("P1_PROFISSAO", "105")]
    assert len({a["marca"] for a in waits}) == 4  # each wait keeps its own state in the page
    # Escape at once, before the close condition; no fixed pause anywhere
    assert page.names().index("keyboard.press") < page.names().index("wait_for_function", 4)
    assert pauses(page) == [] and "wait_for_selector" not in page.names()
    # the search gets the load-more wait's bound as a fourth element
    search = [kw["args"][0] for op, _, kw in page.ops if op == "evaluate"][0]
    assert search == ["P1_PROFISSAO", "105", "button.js-load.a-GV-loadMoreButton",
                      {"limiteMs": 10000, "intervaloMs": 100}]


@pytest.mark.usefixtures("adaptive")
def test_popup_lov_fallbacks_are_the_literal_steps(vc, log, page, run):
    page.on("evaluate", FOUND)
    page.on("wait_for_function", raises=TimeoutError("t"))
    page.on("wait_for_selector", raises=TimeoutError("t"))
    run(vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "105"))
    assert pauses(page) == [1800, 300, 1000]
    close = page.names()[page.names().index("wait_for_selector"):][:3]
    assert close == ["wait_for_selector", "keyboard.press", "evaluate"]  # the literal close wait
    assert [m.split(": ")[1].split(" ")[0] for m in fallback_lines(log)] == [
        "lov_aberto", "lov_fechado", "espera_estavel", "lov_assente"]


@pytest.mark.usefixtures("adaptive")
def test_popup_closed_without_the_value_fails_the_attempt(vc, log, page, run, no_sleep):
    page.on("evaluate", FOUND)
    page.on("wait_for_function", call=lambda sel, kw: FakeHandle(
        page, "valor_diferente" if kw["arg"]["ponto"] == "lov_fechado" else "pronto"))
    with pytest.raises(Exception) as info:
        run(vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "105"))
    assert str(info.value) == ("fCtApexPreencPopupLovId -> Ritmo adaptativo: o item P1_PROFISSAO "
                               "não ficou com o valor '105'")
    assert no_sleep == [0.5, 0.5] and page.names().count("locator.click") == 3


@pytest.mark.usefixtures("adaptive")
def test_load_more_waits_that_ran_out_are_said_and_kept_out_of_the_result(vc, log, page, run):
    page.on("evaluate", dict(FOUND, esgotadas=2))
    verdict(page, "pronto")
    run(vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "105"))
    assert fallback_lines(log) == [
        "fCtApexPreencPopupLovId -> Ritmo adaptativo: lov_mais sem resposta em 10000 ms (2x); segue o ritmo literal"]
    assert "fCtApexPreencPopupLovId -> Resultado: " + str(FOUND) in log.messages("info")


@pytest.mark.usefixtures("adaptive")
def test_grid_row_waits_for_its_editor_and_for_the_save(vc, page, run):
    ctl = vc.VexoControleApex(page)
    verdict(page, "pronto")
    run(ctl.fPreencGridTitular(GRID, [{"TIT_NOME": "Ana"}]))
    waits = [(kw["arg"]["ponto"], kw["arg"]["seletor"], kw["timeout"]) for op, _, kw in page.ops
             if op == "wait_for_function"]
    assert waits == [("grelha_inserir", "#P2_TIT_NOME", 15000), ("grelha_gravar", "#TIT_ADD", 30000)]
    assert pauses(page) == []


@pytest.mark.usefixtures("adaptive")
def test_grid_without_columns_pauses_as_literal(vc, log, page, run):
    class Factory:  # the nested controller's logger is the recording one too
        @staticmethod
        def fLog(**kw):
            return log

    vc.VexoFuncoes = Factory
    ctl = vc.VexoControleApex(page, True)
    verdict(page, "sem_sinal")
    run(ctl.fPreencGridTitular({k: GRID[k] for k in ("TitInserir", "TitGravar")}, [{}]))
    assert [kw["arg"]["seletor"] for op, _, kw in page.ops if op == "wait_for_function"] == [None, "#TIT_ADD"]
    assert pauses(page) == [1200, 1800]
    assert fallback_lines(log) == [
        f"VexoControleApex -> fPreencGridTitular -> Ritmo adaptativo: {p} sem sinal da página; segue o ritmo literal"
        for p in ("grelha_inserir", "grelha_gravar")]
