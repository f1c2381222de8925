"""Text, text area and autocomplete fills against the recording page: order, outcomes, lines."""
import asyncio

import pytest

from fakepage import TimeoutError

SEL = "#P1_NOME"


def fill_ops(page):
    return [(op, sel) for op, sel, _ in page.ops]


HAPPY = [
    ("locator", SEL),
    ("wait_for_selector", SEL),
    ("count", SEL),
    ("first.wait_for", SEL),
    ("is_enabled", SEL),
    ("first.scroll_into_view_if_needed", SEL),
    ("evaluate", None),
]


@pytest.mark.parametrize("name", ["fCtPreencText", "fCtPreencTextArea", "fCtPreencAutoComplete"])
def test_happy_path_steps_arguments_and_line(vc, log, page, run, name):
    assert run(getattr(vc, name)(page, SEL, 12.5, 700)) is None
    assert fill_ops(page) == HAPPY
    assert page.ops[1][2] == {"state": "attached", "timeout": 700}
    assert page.ops[3][2] == {"state": "visible", "timeout": 700}
    script, args = page.ops[-1][2]["script"], page.ops[-1][2]["args"]
    assert args == ([SEL, "12.5"],) and "setValue(val, null, true)" in script
    assert log.lines == [("info", "fCtPreencText -> Campo preenchido: #P1_NOME")]


@pytest.mark.parametrize("value", [None, "", "   ", "\t\n"])
def test_blank_values_touch_nothing(vc, log, page, run, value):
    run(vc.fCtPreencText(page, SEL, value))
    assert page.ops == [] and log.lines == []


@pytest.mark.parametrize("value, sent", [(0, "0"), ("0", "0"), ("  a b ", "  a b "), (True, "True")])
def test_values_are_sent_in_their_untrimmed_text_form(vc, log, page, run, value, sent):
    run(vc.fCtPreencText(page, SEL, value))
    assert page.calls("evaluate")[0][1]["args"] == ([SEL, sent],)


def test_default_timeout_is_5000(vc, log, page, run):
    run(vc.fCtPreencText(page, SEL, "x"))
    assert page.ops[1][2]["timeout"] == 5000


@pytest.mark.parametrize("script, line, stops_after", [
    ({"op": "count", "result": 0}, ("warning", "fCtPreencText -> Campo não encontrado: #P1_NOME"), "count"),
    ({"op": "is_enabled", "result": False}, ("warning", "fCtPreencText -> Campo desabilitado: #P1_NOME"), "is_enabled"),
    ({"op": "wait_for_selector", "raises": TimeoutError("Timeout 5000ms exceeded.")},
     ("error", "fCtPreencText -> Falha ao preencher #P1_NOME: Timeout 5000ms exceeded."), "wait_for_selector"),
    ({"op": "first.wait_for", "raises": TimeoutError("hidden")},
     ("error", "fCtPreencText -> Falha ao preencher #P1_NOME: hidden"), "first.wait_for"),
    ({"op": "evaluate", "raises": RuntimeError("ReferenceError: apex")},
     ("error", "fCtPreencText -> Falha ao preencher #P1_NOME: ReferenceError: apex"), "evaluate"),
])
def test_outcomes_end_normally_after_one_attempt_with_their_line(vc, log, page, run, script, line, stops_after):
    op = script.pop("op")
    page.on(op, **script)
    assert run(vc.fCtPreencText(page, SEL, "x")) is None
    names = [o for o, _ in fill_ops(page)]
    assert names[-1] == stops_after and names.count("wait_for_selector") == 1
    assert log.lines == [line]


def test_no_lines_without_debug(vc, page, run):
    from fakepage import RecordingLogger

    vc.objfLog = RecordingLogger()
    vc.gDebugDev = False
    page.on("count", 0)
    run(vc.fCtPreencText(page, SEL, "x"))
    assert vc.objfLog.lines == []


def test_cancellation_passes_through_the_guard(vc, log, page, run):
    async def hang(*a, **k):
        await asyncio.sleep(10)

    page.wait_for_selector = hang

    async def main():
        task = asyncio.create_task(vc.fCtPreencText(page, SEL, "x"))
        await asyncio.sleep(0.01)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    run(main())
    assert log.lines == []


def test_module_functions_and_state_are_read_at_each_use(vc, log, page, run):
    seen = []

    async def my_retry(action):
        seen.append(action.__name__)
        return await action()

    vc.fCtRetry = my_retry
    run(vc.fCtPreencText(page, SEL, "x"))
    assert seen == ["action"]

    async def my_text(*args):
        seen.append(args)

    vc.fCtPreencText = my_text
    run(vc.fCtPreencAutoComplete(page, SEL, "y"))
    assert seen[-1] == (page, SEL, "y", 5000)
