"""The APEX idle wait against the recording page: its two steps, what its guard drops and
what it lets through."""
import asyncio

import pytest

from fakepage import RecordingLogger, TimeoutError


def steps(page):
    return [(op, kw.get("timeout"), kw.get("args")) for op, _, kw in page.ops]


@pytest.mark.parametrize("timeout", [5000, 1234, 0])
def test_waits_for_idle_then_pauses_300(vc, log, page, run, timeout):
    assert run(vc.fCtApexWaitStable(page, timeout)) is None
    assert steps(page) == [("wait_for_function", timeout, None), ("wait_for_timeout", None, (300,))]
    assert set(page.ops[0][2]) == {"script", "timeout"}  # the idle script takes no argument
    assert log.lines == []


def test_default_limit_is_5000(vc, log, page, run):
    run(vc.fCtApexWaitStable(page))
    assert page.ops[0][2]["timeout"] == 5000


@pytest.mark.parametrize("error", [TimeoutError("Timeout 5000ms exceeded."), RuntimeError("page closed"),
                                   ValueError("script")])
def test_an_ordinary_error_of_the_first_wait_is_dropped_silently(vc, log, page, run, error):
    page.on("wait_for_function", raises=error)
    assert run(vc.fCtApexWaitStable(page, 100)) is None
    assert [op for op, _, _ in steps(page)] == ["wait_for_function", "wait_for_timeout"]
    assert log.lines == []


@pytest.mark.parametrize("error", [asyncio.CancelledError, KeyboardInterrupt, SystemExit])
def test_cancellation_of_the_first_wait_is_never_swallowed(vc, log, page, run, error):
    page.on("wait_for_function", raises=error)
    with pytest.raises(error):
        run(vc.fCtApexWaitStable(page))
    assert page.names() == ["wait_for_function"]


def test_a_failing_pause_reaches_the_caller(vc, page, run):
    page.on("wait_for_timeout", raises=RuntimeError("Target page, context or browser has been closed"))
    with pytest.raises(RuntimeError, match="has been closed"):
        run(vc.fCtApexWaitStable(page))


def test_no_line_whatever_the_flag(vc, page, run):
    vc.objfLog = RecordingLogger()
    for flag in (True, False):
        vc.gDebugDev = flag
        page.on("wait_for_function", raises=TimeoutError("t"), times=1)
        run(vc.fCtApexWaitStable(page))
    assert vc.objfLog.lines == []


def test_method_waits_on_the_controllers_page_with_the_fixed_limit(vc, page, run):
    ctl = object.__new__(vc.VexoControleApex)
    ctl.page = page
    assert run(ctl.fCtApexWaitStable()) is None
    assert steps(page) == [("wait_for_function", 5000, None), ("wait_for_timeout", None, (300,))]


def test_method_uses_the_module_function_of_the_moment(vc, page, run):
    seen = []

    async def replacement(p, *rest):
        seen.append((p, rest))

    vc.fCtApexWaitStable = replacement
    ctl = object.__new__(vc.VexoControleApex)
    ctl.page = page
    run(ctl.fCtApexWaitStable())
    assert seen == [(page, ())] and page.ops == []
