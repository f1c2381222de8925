"""A real Playwright page with a fault injected at a chosen page operation, for the browser
tests: the page closed, the renderer crashed, a navigation, a task cancelled, as a fill
reaches that operation or while it is under way. Faults are placed by operation, never by
the clock, so where they land does not depend on how fast the machine or the fill is."""
import asyncio
import inspect

_PLAIN = (str, bytes, int, float, bool, type(None), list, tuple, dict)


class Faulty:
    """Forwards to a real Playwright page (and the locators and keyboard it hands out).
    Every awaited operation is counted and named in `ops`; the first one for which
    `when(name, args)` (with `kw=` the operation's keywords, when it has any) is true runs `fault()` before it starts or, with `during=True`, once
    it is under way: its request sent and the event loop turned, its answer not yet handled
    (an answer comes through the driver's pipe, read at a later turn of the loop)."""

    def __init__(self, real, when, fault, during=False, _shared=None):
        self._real = real
        self._s = _shared or {"when": when, "fault": fault, "during": during, "fired": False, "ops": []}

    @property
    def ops(self):
        return self._s["ops"]

    @property
    def fired(self):
        return self._s["fired"]

    def _wrap(self, value):
        if isinstance(value, _PLAIN) or not type(value).__module__.startswith("playwright"):
            return value
        return Faulty(value, None, None, _shared=self._s)

    def __getattr__(self, name):
        attr = getattr(self._real, name)
        if not callable(attr):
            return self._wrap(attr)

        def call(*args, **kw):
            result = attr(*args, **kw)
            if inspect.isawaitable(result):
                return self._op(name, args, kw, result)
            return self._wrap(result)

        return call

    async def _op(self, name, args, kw, awaitable):
        s = self._s
        s["ops"].append((name, args))
        if s["fired"] or not s["when"](name, args, **({"kw": kw} if kw else {})):
            return await awaitable
        s["fired"] = True
        if not s["during"]:
            await s["fault"]()
            return await awaitable
        task = asyncio.ensure_future(awaitable)
        await asyncio.sleep(0)  # the operation's first step runs: its request goes out
        await asyncio.sleep(0)
        assert not task.done(), f"{name} ended before the fault"
        await s["fault"]()
        return await task


def at(op, sel=None):
    """The first operation named `op` (and, if given, whose first argument is `sel`)."""
    return lambda name, args, kw=None: name == op and (sel is None or (args and args[0] == sel))


def at_script(fragment):
    """The first evaluate whose script holds `fragment`."""
    return lambda name, args, kw=None: name == "evaluate" and fragment in args[0]


def at_condition(ponto):
    """The first wait of the adaptive pacing for the condition named `ponto` (its keywords
    reach `when` as `kw`)."""
    return lambda name, args, kw=None: (name == "wait_for_function"
                                        and ((kw or {}).get("arg") or {}).get("ponto") == ponto)


class Pauses:
    """The real page; its fixed pauses (wait_for_timeout) are also noted in `ms`."""

    def __init__(self, page):
        self._page, self.ms = page, []

    def __getattr__(self, name):
        return getattr(self._page, name)

    def wait_for_timeout(self, ms):
        self.ms.append(ms)
        return self._page.wait_for_timeout(ms)
