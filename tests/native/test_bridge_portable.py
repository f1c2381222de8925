"""Bridge paths that the default build (CPython's full C API) and the abi3 build (the limited
API) implement differently: type names in messages, the generator and coroutine checks, the
finalizer run from deallocation, bound methods. Both builds must give the same results."""
import datetime
import gc
import re
import types
import weakref

import pytest

from ziveviver import _probe as probe
from ziveviver import vexocontrole as vc
from ziveviver.vexofuncoes import VexoFuncoes

from test_bridge import drive


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
