"""Bridge paths that the default build (CPython's full C API) and the abi3 build (the limited
API) implement differently: type names in messages, the generator and coroutine checks, the
finalizer run from deallocation, bound methods. Both builds must give the same results."""
import asyncio
import datetime
import gc
import pathlib
import re
import traceback
import types
import weakref

import pytest

from ziveviver import _probe as probe
from ziveviver import vexocontrole as vc
from ziveviver.vexofuncoes import VexoFuncoes

from test_bridge import drive, forever


class Plain:
    pass


class AwaitReturns:
    def __init__(self, it):
        self.it = it

    def __await__(self):
        return self.it


async def one():
    return 1


def plain_generator():
    yield 1


@types.coroutine
def finishes_at_once():
    return "done"
    yield  # makes it a generator


def awaiting_coroutine():
    c = one()
    c.close()  # only its type matters; closed, it warns about nothing
    return c


@pytest.mark.parametrize("make, message", [
    (lambda: 5, "object int can't be used in 'await' expression"),
    (Plain, "object Plain can't be used in 'await' expression"),
    (lambda: datetime.date(2024, 1, 2), "object datetime.date can't be used in 'await' expression"),
    (plain_generator, "object generator can't be used in 'await' expression"),
    (lambda: AwaitReturns(5), "__await__() returned non-iterator of type 'int'"),
    (lambda: AwaitReturns(Plain()), "__await__() returned non-iterator of type 'Plain'"),
    (lambda: AwaitReturns(awaiting_coroutine()), "__await__() returned a coroutine"),
])
def test_what_cannot_be_awaited_is_named_by_its_type(make, message):
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        drive(probe.await3(make))


def test_a_types_coroutine_generator_is_awaited_as_it_is():
    assert drive(probe.await3(finishes_at_once)) == "done"


@pytest.mark.parametrize("thrown, message", [
    (5, "exceptions must be classes or instances deriving from BaseException, not int"),
    (Plain(), "exceptions must be classes or instances deriving from BaseException, not Plain"),
])
def test_throwing_a_non_exception_names_its_type(thrown, message):
    @types.coroutine
    def suspend_once():
        yield "suspended"
        return "resumed"

    c = probe.await3(suspend_once)
    assert c.send(None) == "suspended"
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        c.throw(thrown)
    # The refused throw left the coroutine where it was.
    assert c.send(None) == "suspended"
    c.close()


class Text(str):
    pass


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {"pSiLog": "2"}, "argument 'pSiLog' must be int, not str"),
    ((2, 2), {"pSiLogPrefixo": Text("x")}, "argument 'pSiLogPrefixo' must be str, not Text"),
])
def test_a_wrong_argument_type_is_named_in_the_message(args, kwargs, message):
    with pytest.raises(TypeError, match="^" + re.escape("VexoFuncoes.fLog() " + message) + "$"):
        VexoFuncoes.fLog(*args, **kwargs)


def test_a_coroutine_resurrected_by_its_finalizer_survives_and_is_freed_later():
    """The delegate's close(), run while the suspended coroutine is being deallocated, takes a
    new reference to it through a weak reference: deallocation must stop there, and the
    object must stay whole until that reference goes."""
    kept, closes = [], []

    class Delegate:
        def __iter__(self):
            return self

        def __next__(self):
            return "suspended"

        def send(self, value):
            return "suspended"

        def close(self):
            closes.append(1)
            kept.append(ref())

    c = probe.await3(lambda: AwaitReturns(Delegate()))
    assert c.send(None) == "suspended"
    ref = weakref.ref(c)
    del c
    assert closes == [1]
    (back,) = kept
    assert back is ref() and back.cr_suspended is False and back.cr_await is None
    with pytest.raises(RuntimeError, match="cannot reuse already awaited coroutine"):
        back.send(None)
    kept.clear()
    del back
    gc.collect()
    assert ref() is None and closes == [1]


def test_functions_bind_as_methods_and_fLog_is_a_classmethod():
    f = vc.VexoControleApex.__dict__["fCtPreencUmCampo"]
    owner = object()
    bound = f.__get__(owner, object)
    assert isinstance(bound, types.MethodType)
    assert bound.__self__ is owner and bound.__func__ is f
    assert f.__get__(None, object) is f
    assert isinstance(VexoFuncoes.__dict__["fLog"], classmethod)
    assert VexoFuncoes.fLog.__self__ is VexoFuncoes


# ------------------------------------------------------------------ tracebacks through C++ frames

PROBE_SOURCE = pathlib.Path(__file__).resolve().parents[2] / "native" / "probe" / "module.cpp"


def probe_line(text, after=None):
    """The number of the probe's source line holding `text` (the first one after the line
    holding `after`)."""
    lines = PROBE_SOURCE.read_text(encoding="utf-8").splitlines()
    start = probe_line(after) if after else 0
    found = [i + 1 for i, line in enumerate(lines) if text in line and i + 1 > start]
    assert found and (after or len(found) == 1), text
    return found[0]


def entries(exc):
    out, tb = [], exc.__traceback__
    while tb is not None:
        code = tb.tb_frame.f_code
        out.append((code.co_name, code.co_qualname, code.co_filename, tb.tb_lineno))
        tb = tb.tb_next
    return out


def raised_by(coro):
    with pytest.raises(BaseException) as info:
        drive(coro)
    return info.value


class TestTracebacks:
    def test_one_entry_per_frame_at_the_raise_and_at_each_await(self):
        exc = raised_by(probe.raise_through(probe.raise_through, 2))
        assert type(exc) is ValueError and str(exc) == "raised at the bottom"
        here = "native/probe/module.cpp"
        at_await = ("raise_through", "raise_through", here, probe_line("co_return co_await call(c.arg(0), c.arg(0)"))
        at_raise = ("raise_through", "raise_through", here, probe_line("throw_current();  // the raise"))
        assert entries(exc)[2:] == [at_await, at_await, at_raise]  # below raised_by() and drive()
        text = "".join(traceback.format_exception(exc))
        assert text.startswith("Traceback (most recent call last):\n")
        assert f'  File "{here}", line {at_raise[3]}, in raise_through\n' in text

    def test_what_cannot_be_awaited_is_raised_at_its_await(self):
        exc = raised_by(probe.await3(lambda: 5))
        line = probe_line("Ref r = co_await call(fn);")
        assert type(exc) is TypeError
        assert entries(exc)[2:] == [("await3", "await3", "native/probe/module.cpp", line)]

    def test_entries_go_on_top_of_the_python_frames_keeping_cause_and_context(self):
        cause = KeyError("cause")
        outer = LookupError("handled meanwhile")
        err = ValueError("deep")

        async def fail():
            raise err from cause

        try:
            raise outer
        except LookupError:
            exc = raised_by(probe.await3(fail))
        assert exc is err
        assert exc.__cause__ is cause and exc.__suppress_context__ and exc.__context__ is outer
        got = entries(exc)[2:]  # below raised_by() and drive()
        assert got[0][:3] == ("await3", "await3", "native/probe/module.cpp")
        assert got[1][1] == "TestTracebacks.test_entries_go_on_top_of_the_python_frames_keeping_cause_and_context.<locals>.fail"
        assert len(got) == 2

    def test_a_handler_in_cpp_sees_its_own_frame_on_top(self):
        async def fail():
            raise ValueError("visible")

        text = drive(probe.format_in_handler(fail))
        line = probe_line("co_await call(c.arg(0));", after="Task<Ref> format_in_handler(")
        handler = f'  File "native/probe/module.cpp", line {line}, in format_in_handler\n'
        assert text.startswith("Traceback (most recent call last):\n" + handler)
        assert text.index(handler) < text.index(", in fail\n") and text.endswith("ValueError: visible\n")

    def test_cancellation_keeps_its_type_and_gets_the_entries(self):
        async def main():
            task = asyncio.ensure_future(probe.await3(forever))
            await asyncio.sleep(0)
            task.cancel("stop")
            with pytest.raises(asyncio.CancelledError) as info:
                await task
            return task, info.value

        task, exc = asyncio.run(main())
        assert task.cancelled() and type(exc) is asyncio.CancelledError
        assert ("await3", "await3") in [e[:2] for e in entries(exc)]

    def test_raising_leaves_no_cycle_for_the_collector(self):
        def raise_once():
            coro = probe.raise_through(probe.raise_through, 3)
            try:
                coro.send(None)
            except ValueError:
                pass

        def made_by_raise_once(o):
            if isinstance(o, types.TracebackType):
                o = o.tb_frame
            if isinstance(o, types.FrameType):
                return o.f_code.co_name in ("raise_through", "raise_once")
            if isinstance(o, ValueError):
                return o.args == ("raised at the bottom",)
            return getattr(o, "__qualname__", None) == "raise_through"  # the coroutines

        # What the collector would free is kept in gc.garbage instead; of that, only the
        # objects the raises made count (other threads of the process make cycles of their own).
        gc.collect()
        gc.disable()
        flags = gc.get_debug()
        gc.set_debug(flags | gc.DEBUG_SAVEALL)
        try:
            for _ in range(200):
                raise_once()
            gc.collect()
            cyclic = [repr(o)[:80] for o in gc.garbage if made_by_raise_once(o)]
        finally:
            gc.set_debug(flags)
            gc.garbage.clear()
            gc.enable()
        assert cyclic == []
