"""A recording stand-in for a Playwright page, for fast tests of ordering, retries and logs.

Every operation the fills call is recorded in ``page.ops`` as ``(op, selector, kwargs)``
(``selector`` is the locator's selector for locator operations, ``None`` where there is none;
positional arguments other than the selector go into kwargs under ``"args"``). Outcomes are
scripted with ``page.on(op, ...)``; unscripted operations succeed with a plain default.
Awaited operations really suspend once (``asyncio.sleep(0)``), so the suspension paths of the
coroutines under test are exercised.
"""
import asyncio


class TimeoutError(Exception):  # noqa: A001 - mirrors Playwright's name
    pass


DEFAULTS = {"count": 1, "is_enabled": True}


class _Rule:
    def __init__(self, op, selector, result, raises, times, call):
        self.op, self.selector, self.result = op, selector, result
        self.raises, self.times, self.call = raises, times, call

    def matches(self, op, selector):
        if self.op != op or self.times == 0:
            return False
        return self.selector is None or self.selector == selector


class FakePage:
    def __init__(self, suspend=True):
        self.ops = []
        self.rules = []
        self.suspend = suspend
        self.keyboard = _Keyboard(self)

    # scripting ---------------------------------------------------------------------------
    def on(self, op, result=None, *, selector=None, raises=None, times=None, call=None):
        """Scripts `op` (optionally only for `selector`): return `result`, raise `raises`
        (an exception instance or class), or return `call(selector, kwargs)`. `times` limits
        how often the rule applies; later rules win over earlier ones."""
        self.rules.insert(0, _Rule(op, selector, result, raises, times, call))
        return self

    def names(self):
        """The recorded operation names, in order."""
        return [op for op, _, _ in self.ops]

    def calls(self, op):
        return [(sel, kw) for o, sel, kw in self.ops if o == op]

    async def _do(self, op, selector, kwargs):
        self.ops.append((op, selector, kwargs))
        if self.suspend:
            await asyncio.sleep(0)
        return self._outcome(op, selector, kwargs)

    def _outcome(self, op, selector, kwargs):
        for rule in self.rules:
            if rule.matches(op, selector):
                if rule.times is not None:
                    rule.times -= 1
                if rule.raises is not None:
                    raise rule.raises
                if rule.call is not None:
                    return rule.call(selector, kwargs)
                return rule.result
        return DEFAULTS.get(op)

    # page operations ---------------------------------------------------------------------
    def locator(self, selector):
        self.ops.append(("locator", selector, {}))
        return FakeLocator(self, selector)

    def wait_for_selector(self, selector, **kw):
        return self._do("wait_for_selector", selector, kw)

    def wait_for_function(self, script, **kw):
        return self._do("wait_for_function", None, dict(kw, script=script))

    def wait_for_timeout(self, ms):
        return self._do("wait_for_timeout", None, {"args": (ms,)})

    def evaluate(self, script, *args):
        return self._do("evaluate", None, {"script": script, "args": args})

    def click(self, selector, **kw):
        return self._do("click", selector, kw)

    def select_option(self, selector, **kw):
        return self._do("select_option", selector, kw)


class FakeHandle:
    """What wait_for_function (or, scripted, wait_for_selector) hands back: json_value() and
    evaluate() give `value`; its operations are recorded on the page as ("handle.<op>", None,
    {...})."""

    def __init__(self, page, value):
        self.page, self.value = page, value

    async def json_value(self):
        await self.page._do("handle.json_value", None, {})
        return self.value

    def dispose(self):
        return self.page._do("handle.dispose", None, {})

    async def evaluate(self, script, *args):
        await self.page._do("handle.evaluate", None, {"script": script, "args": args})
        return self.value


class _Keyboard:
    def __init__(self, page):
        self.page = page

    def press(self, key):
        return self.page._do("keyboard.press", None, {"args": (key,)})


class FakeLocator:
    def __init__(self, page, selector, is_first=False):
        self.page, self.selector, self.is_first = page, selector, is_first

    @property
    def first(self):
        return FakeLocator(self.page, self.selector, True)

    def _op(self, name, **kw):
        op = ("first." if self.is_first else "locator.") + name
        return self.page._do(op, self.selector, kw)

    def count(self):
        return self.page._do("count", self.selector, {})

    def is_enabled(self):
        return self.page._do("is_enabled", self.selector, {})

    def wait_for(self, **kw):
        return self._op("wait_for", **kw)

    def scroll_into_view_if_needed(self):
        return self._op("scroll_into_view_if_needed")

    def click(self):
        return self._op("click")

    def check(self):
        return self._op("check")


class RecordingLogger:
    """Takes the module logger's place: keeps (level, message) pairs."""

    def __init__(self):
        self.lines = []

    def _add(self, level, msg, **kw):
        self.lines.append((level, msg))

    def info(self, msg, **kw):
        self._add("info", msg, **kw)

    def warning(self, msg, **kw):
        self._add("warning", msg, **kw)

    def error(self, msg, **kw):
        self._add("error", msg, **kw)
        if kw.get("exc_info"):
            import sys

            self.lines.append(("exc_info", sys.exc_info()[1]))

    def debug(self, msg, **kw):
        self._add("debug", msg, **kw)

    def messages(self, level=None):
        return [m for lv, m in self.lines if level is None or lv == level]
