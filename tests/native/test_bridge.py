"""The awaitable bridge: C++ coroutines that await Python awaitables and are asyncio coroutines."""
import asyncio
import gc
import sys
import types
import warnings
import weakref

import pytest

from ziveviver import _probe as probe
from ziveviver import vexocontrole as vc


async def one():
    return 1


async def forever(record=None):
    try:
        await suspend_forever()
    finally:
        if record is not None:
            record.append("inner finally")


@types.coroutine
def suspend_forever():
    while True:
        yield None


def drive(coro):
    """Runs a coroutine without a loop, for awaitables that never really suspend."""
    try:
        while True:
            coro.send(None)
    except StopIteration as stop:
        return stop.value


class TestAsyncioAcceptsIt:
    def test_run_create_task_gather_wait_for_timeout_taskgroup(self):
        async def main():
            a = await asyncio.create_task(probe.await3(one))
            b = await asyncio.gather(probe.await3(one), probe.await3(lambda: asyncio.sleep(0, 7)))
            c = await asyncio.wait_for(probe.await3(one), 5)
            async with asyncio.timeout(5):
                d = await probe.await3(one)
            async with asyncio.TaskGroup() as tg:
                t = tg.create_task(probe.await3(lambda: asyncio.sleep(0.001, "tg")))
            return a, b, c, d, t.result()

        assert asyncio.run(main()) == (1, [1, 7], 1, 1, "tg")
        assert asyncio.run(probe.await3(one)) == 1

    def test_is_a_coroutine_for_asyncio_and_has_coroutine_attributes(self):
        c = probe.await3(one)
        assert asyncio.iscoroutine(c)
        assert (c.__name__, c.__qualname__, c.cr_running, c.cr_await) == ("await3", "await3", False, None)
        assert "coroutine object await3" in repr(c)
        c.close()

    def test_method_coroutines_are_named_with_their_class(self):
        ctl = object.__new__(vc.VexoControleApex)
        c = vc.VexoControleApex.fCtPreencText(ctl, "#A", "x")
        assert c.__qualname__ == "VexoControleApex.fCtPreencText"
        assert c.__name__ == "fCtPreencText"
        c.close()


class TestResultsAndErrors:
    def test_results_come_back_from_immediate_and_suspending_awaitables(self):
        async def main():
            return await probe.await_each([one(), asyncio.sleep(0, "s"), probe.await3(one)])

        assert asyncio.run(main()) == [1, "s", 1]

    def test_a_long_run_of_immediately_finishing_nested_awaits_does_not_grow_the_stack(self):
        assert drive(probe.nested_loop(one, 300_000)) == 300_000

    def test_errors_surface_at_the_await_and_ordinary_guards_catch_only_ordinary_ones(self):
        async def fail():
            raise KeyError("k")

        assert drive(probe.guarded(fail)) == "'k'"

        async def exits():
            raise SystemExit(3)

        with pytest.raises(SystemExit):
            drive(probe.guarded(exits))

    def test_stop_iteration_escaping_a_frame_becomes_runtime_error(self):
        async def stop():
            raise StopIteration("x")

        with pytest.raises(RuntimeError, match="coroutine raised StopIteration"):
            drive(probe.await3(stop))

    def test_not_awaitable_is_a_type_error(self):
        with pytest.raises(TypeError, match="can't be used in 'await' expression"):
            drive(probe.await3(lambda: 5))

    def test_the_handled_exception_is_visible_to_format_exc_in_a_handler(self):
        async def fail():
            raise ValueError("visible")

        text = drive(probe.format_in_handler(fail))
        assert "Traceback (most recent call last)" in text
        assert "ValueError: visible" in text
        assert sys.exc_info() == (None, None, None)

    def test_reuse_and_reentrance_are_refused_as_cpython_does(self):
        c = probe.await3(one)
        drive(c)
        with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
            c.send(None)
        fresh = probe.await3(one)
        with pytest.raises(TypeError, match="non-None value to a just-started coroutine"):
            fresh.send(1)
        fresh.close()

        holder = {}

        async def reenter():
            holder["c"].send(None)

        holder["c"] = probe.await3(reenter)
        with pytest.raises(ValueError, match="already executing"):
            drive(holder["c"])


class TestCancellationThrowClose:
    @pytest.mark.parametrize("how", ["wait_for", "timeout", "cancel"])
    def test_cancellation_at_a_suspension_point_ends_the_task_cancelled(self, how):
        record = []

        async def main():
            coro = probe.guarded(lambda: forever(record))
            if how == "wait_for":
                with pytest.raises(asyncio.TimeoutError):
                    await asyncio.wait_for(coro, 0.01)
            elif how == "timeout":
                with pytest.raises(TimeoutError):
                    async with asyncio.timeout(0.01):
                        await coro
            else:
                task = asyncio.create_task(coro)
                await asyncio.sleep(0.01)
                task.cancel()
                with pytest.raises(asyncio.CancelledError):
                    await task
                assert task.cancelled()

        asyncio.run(main())
        assert record == ["inner finally"]

    def test_throw_goes_to_the_delegate_which_may_handle_it(self):
        seen = []

        @types.coroutine
        def catcher():
            try:
                yield "suspended"
            except KeyError as e:
                seen.append(e)
                return "handled"

        c = probe.await_each([catcher(), catcher()])
        assert c.send(None) == "suspended"
        assert c.throw(KeyError("first")) == "suspended"  # moved on to the second awaitable
        with pytest.raises(StopIteration) as stop:
            c.throw(KeyError("second"))
        assert stop.value.value == ["handled", "handled"]
        assert [str(e) for e in seen] == ["'first'", "'second'"]

    def test_throw_without_a_throw_method_surfaces_at_the_await(self):
        class Bare:
            def __await__(self):
                return iter(["tick"])

        c = probe.guarded(Bare)
        assert c.send(None) == "tick"
        with pytest.raises(StopIteration) as stop:
            c.throw(ValueError("here"))
        assert stop.value.value == "here"

    def test_close_closes_the_delegate_and_unwinds(self):
        record = []
        c = probe.await3(lambda: forever(record))
        c.send(None)
        c.close()
        assert record == ["inner finally"]
        with pytest.raises(RuntimeError):
            c.send(None)

    def test_close_of_a_never_started_coroutine_is_silent(self):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            c = probe.await3(one)
            c.close()
            del c
            gc.collect()


class TestLifetime:
    def test_never_awaited_warns_like_cpython(self):
        with pytest.warns(RuntimeWarning, match="coroutine 'await3' was never awaited"):
            probe.await3(one)
            gc.collect()
        with pytest.warns(RuntimeWarning, match="coroutine 'fCtPreencText' was never awaited"):
            vc.fCtPreencText(None, "#A", "x")
            gc.collect()

    def test_an_abandoned_suspended_coroutine_is_closed_when_collected(self):
        record = []
        c = probe.await3(lambda: forever(record))
        c.send(None)
        ref = weakref.ref(c)
        del c
        gc.collect()
        assert ref() is None and record == ["inner finally"]

    def test_a_cycle_through_a_saved_exception_is_collected(self):
        box = {}

        async def fail():
            coro = box["coro"]  # the traceback's frame now refers back to the coroutine
            raise ValueError(coro)

        c = probe.keep_error_across_await(fail, forever)
        box["coro"] = c
        c.send(None)  # fail() raised; the error is kept while forever() is awaited
        ref = weakref.ref(c)
        del c, box["coro"]
        gc.collect()
        assert ref() is None
