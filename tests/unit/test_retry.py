"""fCtRetry: attempts, pauses, the warning lines, and what reaches the caller."""
import asyncio

import pytest


def steps(*outcomes):
    """A step function returning, call after call, coroutines with these outcomes."""
    calls = []

    def step():
        outcome = outcomes[len(calls)]
        calls.append(outcome)

        async def run():
            await asyncio.sleep(0)
            if isinstance(outcome, BaseException):
                raise outcome
            return outcome

        return run()

    step.calls = calls
    return step


def retry_lines(log):
    return [m for lv, m in log.lines if lv == "warning"]


def test_success_at_once_returns_its_result_without_pause_or_line(vc, log, no_sleep, run):
    step = steps("ok")
    assert run(vc.fCtRetry(step)) == "ok"
    assert len(step.calls) == 1 and no_sleep == [] and log.lines == []


def test_two_failures_then_success(vc, log, no_sleep, run):
    step = steps(ValueError("a"), RuntimeError("b"), 42)
    assert run(vc.fCtRetry(step)) == 42
    assert retry_lines(log) == ["fCtRetry -> [RETRY 1/3] erro: a", "fCtRetry -> [RETRY 2/3] erro: b"]
    assert no_sleep == [0.5, 0.5]


def test_always_failing_raises_the_last_error_object(vc, log, no_sleep, run):
    last = KeyError("third")
    step = steps(ValueError("1"), ValueError("2"), last)
    with pytest.raises(KeyError) as err:
        run(vc.fCtRetry(step))
    assert err.value is last
    assert retry_lines(log)[-1] == "fCtRetry -> [RETRY 3/3] erro: 'third'"
    assert len(step.calls) == 3 and no_sleep == [0.5, 0.5]


def test_error_when_calling_the_step_is_retried_too(vc, log, no_sleep, run):
    calls = []

    def step():
        calls.append(1)
        raise ValueError("not even a coroutine")

    with pytest.raises(ValueError):
        run(vc.fCtRetry(step, pRetries=2, pDelay=0.25))
    assert len(calls) == 2 and no_sleep == [0.25]


@pytest.mark.parametrize("retries, expect_calls, expect_lines, expect_sleeps", [
    (1, 1, ["fCtRetry -> [RETRY 1/1] erro: x"], []),
    (0, 0, [], []),
    (-2, 0, [], []),
])
def test_few_attempts(vc, log, no_sleep, run, retries, expect_calls, expect_lines, expect_sleeps):
    step = steps(ValueError("x"))
    if expect_calls:
        with pytest.raises(ValueError):
            run(vc.fCtRetry(step, retries))
    else:
        assert run(vc.fCtRetry(step, retries)) is None
    assert (len(step.calls), retry_lines(log), no_sleep) == (expect_calls, expect_lines, expect_sleeps)


def test_no_lines_without_debug(vc, no_sleep, run):
    from fakepage import RecordingLogger

    vc.gDebugDev = False
    vc.objfLog = RecordingLogger()
    with pytest.raises(ValueError):
        run(vc.fCtRetry(steps(ValueError("x"), ValueError("y"), ValueError("z"))))
    assert vc.objfLog.lines == []


def test_timeout_has_no_effect_and_cancellation_is_never_retried(vc, log, run):
    async def slow():
        await asyncio.sleep(0.05)
        return "done"

    assert run(vc.fCtRetry(slow, pTimeout=0.001)) == "done"

    attempts = []

    async def main():
        async def hang():
            attempts.append(1)
            await asyncio.sleep(10)

        task = asyncio.create_task(vc.fCtRetry(hang))
        await asyncio.sleep(0.01)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    run(main())
    assert attempts == [1] and log.lines == []


def test_the_sleep_is_the_modules_asyncio_read_at_each_use(vc, log, run):
    import types

    seen = []

    async def sleep(d):
        seen.append(("mine", d))

    vc.asyncio = types.SimpleNamespace(sleep=sleep)
    with pytest.raises(ValueError):
        run(vc.fCtRetry(steps(ValueError(), ValueError()), 2, 1.5))
    assert seen == [("mine", 1.5)]
