"""Fill events: follow a fill as it happens, without touching it.

    from ziveviver import eventos

    with eventos.observar(print):
        await ctl.fCtPreencTodoForm(mapping, data)

Inside the block every whole-form fill of this context (this task and the tasks it creates
while the block is open) hands ``callback`` one plain dict per event, synchronously and in
order, from the fill itself (``ziveviver.vexocontrole`` reads the observer at each event).
Each dict names its kind under ``"evento"``; durations are milliseconds on a steady clock.

- ``secao_inicio`` / ``secao_fim``: ``secao`` ("Formulario" for the simple fields, then
  "Representantes", "Titulares", "Beneficiarios"); the end adds ``resultado``, ``erro``,
  ``duracao_ms``.
- ``campo_inicio`` / ``campo_fim``: ``secao``, ``linha`` (the grid row, from 1; None outside
  the grids), ``coluna``, ``seletor``, ``tipo``; the end adds ``resultado`` ("ok", "erro", or
  "ignorado" for a grid cell of a kind the grids do not fill), ``erro`` (None, or the
  error's type and text) and ``duracao_ms``.
- ``linha_inicio``: ``secao``, ``linha``, ``total`` (the records of the grid);
  ``linha_gravada`` / ``linha_ignorada`` (the add or save button failed, or a cell did):
  the same plus ``resultado``, ``erro``, ``duracao_ms``.
- ``pausa``: ``ponto`` (which pause), ``planeado_ms``, ``gasto_ms``, ``ritmo``.

Nobody observing costs the fills nothing but one read of the context variable per event.
A callback that raises is reported once (an ``ObservadorFalhou`` warning) and detached; the
fill goes on.
"""
import contextlib
import contextvars
from typing import Any, Callable, Iterator

Evento = dict[str, Any]


class ObservadorFalhou(RuntimeWarning):
    """An event observer raised: it was detached and the fill went on."""


class _Observador:
    """The callback of one ``observar`` block; the fill clears ``ativo`` when it raises."""

    __slots__ = ("callback", "ativo")

    def __init__(self, callback: Callable[[Evento], object]) -> None:
        self.callback = callback
        self.ativo = True


_observador: contextvars.ContextVar[_Observador | None] = contextvars.ContextVar(
    "ziveviver.eventos.observador", default=None)


@contextlib.contextmanager
def observar(callback: Callable[[Evento], object]) -> Iterator[None]:
    """Delivers the events of the fills run inside the block to ``callback``."""
    token = _observador.set(_Observador(callback))
    try:
        yield
    finally:
        _observador.reset(token)
