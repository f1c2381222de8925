"""A recording proxy around a real Playwright page, and a replay of what it recorded.

``RecordingPage(page)`` forwards every attribute to the real page. Plain results that are
Playwright objects (``page.locator(sel)``, ``locator.first``, ``page.keyboard``) come back
wrapped in turn, remembering the chain of plain steps that produced them; every call that
returns an awaitable is logged as one operation (the chain, the method name, arguments and
keywords, how long the await took, and the exception type if it raised).

``replay_source(ops)`` turns such a log into the text of a bare Playwright coroutine,
``async def replay(page, t)``, with one plain ``await page....`` statement per recorded
operation, in order; ``t`` receives (index, seconds, error type or None) per statement.
"""
import ast
import copy
import inspect
import time
from dataclasses import dataclass, field

_PLAIN = (str, bytes, int, float, bool, type(None), list, tuple, dict, set)


@dataclass
class Op:
    chain: tuple          # ((name, args, kwargs) or (name, None, None) for attributes), from the page
    name: str             # the awaited method
    args: tuple
    kwargs: dict
    seconds: float = 0.0
    error: str | None = None   # exception type name when the await raised
    message: str = ""

    def kind(self):
        """A short label grouping like operations: receiver shape, method, telling options."""
        recv = ".".join(["page"] + [n for n, _, _ in self.chain])
        recv = recv.replace("page.locator", "locator")
        label = f"{recv}.{self.name}"
        if self.name == "wait_for_timeout":
            label += f"({self.args[0] if self.args else self.kwargs.get('timeout')})"
        elif "state" in self.kwargs:
            label += f"(state={self.kwargs['state']}, timeout={self.kwargs.get('timeout')})"
        elif "timeout" in self.kwargs:
            label += f"(timeout={self.kwargs['timeout']})"
        return label


@dataclass
class Recorder:
    ops: list = field(default_factory=list)


class _Handle:
    """Forwards to a real Playwright object; see the module docstring."""

    __slots__ = ("_real", "_rec", "_chain")

    def __init__(self, real, rec, chain=()):
        object.__setattr__(self, "_real", real)
        object.__setattr__(self, "_rec", rec)
        object.__setattr__(self, "_chain", chain)

    def __getattr__(self, name):
        attr = getattr(self._real, name)
        if not callable(attr):
            if isinstance(attr, _PLAIN):
                return attr
            return _Handle(attr, self._rec, self._chain + ((name, None, None),))
        rec, chain = self._rec, self._chain

        def forward(*args, **kwargs):
            result = attr(*args, **kwargs)
            if inspect.isawaitable(result):
                op = Op(chain, name, copy.deepcopy(args), copy.deepcopy(kwargs))
                rec.ops.append(op)  # in issue order
                return _timed(op, result)
            if isinstance(result, _PLAIN):
                return result
            return _Handle(result, rec, chain + ((name, copy.deepcopy(args), copy.deepcopy(kwargs)),))

        return forward


async def _timed(op, awaitable):
    t0 = time.perf_counter()
    try:
        return await awaitable
    except BaseException as e:
        op.error, op.message = type(e).__name__, str(e).splitlines()[0] if str(e) else ""
        raise
    finally:
        op.seconds = time.perf_counter() - t0


def RecordingPage(page, recorder):
    return _Handle(page, recorder)


def signature(ops):
    """What identifies a recorded sequence, timings left out (to compare runs)."""
    return [(o.chain, o.name, o.args, tuple(sorted(o.kwargs.items())), o.error) for o in ops]


# ------------------------------------------------------------------------------- replay

def _literal(value, consts):
    text = repr(value)
    try:
        ok = ast.literal_eval(text) == value
    except (ValueError, SyntaxError):
        ok = False
    if ok and len(text) <= 100:
        return text
    for i, c in enumerate(consts):  # long scripts repeat: one constant each
        if type(c) is type(value) and c == value:
            return f"C{i}"
    consts.append(value)
    return f"C{len(consts) - 1}"


def _call(args, kwargs, consts):
    parts = [_literal(a, consts) for a in args]
    parts += [f"{k}={_literal(v, consts)}" for k, v in kwargs.items()]
    return "(" + ", ".join(parts) + ")"


def replay_source(ops):
    """The text of the bare replay and the constants it refers to (names C0, C1, ...).

    Each statement stands in its own try, so an operation that raised in the recorded run
    (a close wait that runs out, say) raises here too without ending the replay; its error
    type is handed to ``t`` for comparison."""
    consts = []
    body = []
    for i, op in enumerate(ops):
        recv = "page" + "".join(
            f".{n}" if a is None else f".{n}{_call(a, kw, consts)}" for n, a, kw in op.chain)
        stmt = f"await {recv}.{op.name}{_call(op.args, op.kwargs, consts)}"
        note = f"  # raised {op.error} when recorded" if op.error else ""
        body.append(
            f"    s = perf()\n"
            f"    try:\n"
            f"        {stmt}{note}\n"
            f"    except Exception as e:\n"
            f"        t.append(({i}, perf() - s, type(e).__name__))\n"
            f"    else:\n"
            f"        t.append(({i}, perf() - s, None))\n")
    head = "from time import perf_counter as perf\n\n\nasync def replay(page, t):\n"
    return head + ("".join(body) or "    pass\n"), consts


def compile_replay(ops):
    """The replay coroutine function built from ``replay_source(ops)``, and its source."""
    src, consts = replay_source(ops)
    ns = {f"C{i}": c for i, c in enumerate(consts)}
    exec(compile(src, "<bare replay>", "exec"), ns)  # noqa: S102 - text generated just above
    return ns["replay"], src, consts
