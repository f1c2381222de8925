"""Pacing of the fills: how they pause for the page.

``literal`` (the default) makes every fixed pause the fills are specified with. ``adaptativo``
replaces each pause with a bounded wait on APEX's own readiness signal (no request in flight,
no processing indicator, the popup's rows rendered, the grid's row editor shown), and falls
back to the literal pause where the page gives no such signal or the bound runs out.

The pacing is carried by a context variable: a ``with`` block sets it for the current task
and for the tasks created inside the block (they copy the context when they are created)::

    from ziveviver import ritmo

    with ritmo.adaptativo():
        await ctl.fCtPreencTodoForm(mapa, dados)

The fills read it at each pause point.
"""
from __future__ import annotations

import contextlib
import contextvars

LITERAL = "literal"
ADAPTATIVO = "adaptativo"
NOMES = (LITERAL, ADAPTATIVO)

_ritmo: contextvars.ContextVar[str] = contextvars.ContextVar("ziveviver_ritmo", default=LITERAL)


def atual() -> str:
    """The pacing in force here: "literal" or "adaptativo"."""
    return _ritmo.get()


def validar(nome: object) -> str:
    """`nome` when it names a pacing; ValueError naming the accepted ones otherwise."""
    if isinstance(nome, str) and nome in NOMES:
        return NOMES[NOMES.index(nome)]
    aceites = ", ".join(repr(n) for n in NOMES)
    raise ValueError(f"ritmo desconhecido: {nome!r} (aceites: {aceites})")


class definir(contextlib.AbstractContextManager[str]):
    """Sets the pacing named `nome` for a ``with`` block and the tasks created inside it. The
    name is checked here, before the block: ValueError naming the accepted ones."""

    def __init__(self, nome: str) -> None:
        self.nome = validar(nome)
        self._tokens: list[contextvars.Token[str]] = []

    def __enter__(self) -> str:
        self._tokens.append(_ritmo.set(self.nome))
        return self.nome

    def __exit__(self, *exc: object) -> None:
        _ritmo.reset(self._tokens.pop())


def literal() -> definir:
    """The specified fixed pauses, for the block."""
    return definir(LITERAL)


def adaptativo() -> definir:
    """Bounded waits on the page's readiness instead of the fixed pauses, for the block."""
    return definir(ADAPTATIVO)
