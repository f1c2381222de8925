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
fill goes on. Blocks nest: inside an inner block both callbacks receive every event, the outer
one first, and a callback that raises is detached alone.
"""
import contextlib
import contextvars
import warnings
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


class _Varios:
    """The observers of nested ``observar`` blocks, outermost first: each receives every event
    (its own copy of the record). One that raises is reported and detached alone; the others
    go on. The fill reads ``callback`` and ``ativo`` as it does for a single observer."""

    __slots__ = ("membros",)

    def __init__(self, membros: list[_Observador]) -> None:
        self.membros = membros

    @property
    def ativo(self) -> bool:
        return any(m.ativo for m in self.membros)

    @ativo.setter
    def ativo(self, valor: bool) -> None:
        for m in self.membros:
            m.ativo = valor

    def callback(self, evento: Evento) -> None:
        for m in self.membros:
            if not m.ativo:
                continue
            try:
                m.callback(dict(evento))
            except Exception as e:  # noqa: BLE001 - reported and detached, as the fill does
                m.ativo = False
                texto = str(e)
                erro = f"{type(e).__name__}: {texto}" if texto else type(e).__name__
                warnings.warn(f"o observador de eventos falhou ({erro}) e foi desligado; o "
                              "preenchimento continua", ObservadorFalhou, stacklevel=2)


_observador: contextvars.ContextVar[_Observador | _Varios | None] = contextvars.ContextVar(
    "ziveviver.eventos.observador", default=None)


@contextlib.contextmanager
def observar(callback: Callable[[Evento], object]) -> Iterator[None]:
    """Delivers the events of the fills run inside the block to ``callback``; inside another
    ``observar`` block both receive them (the outer one first)."""
    novo = _Observador(callback)
    fora = _observador.get()
    if fora is None:
        token = _observador.set(novo)
    else:
        antes = fora.membros if isinstance(fora, _Varios) else [fora]
        token = _observador.set(_Varios([*antes, novo]))
    try:
        yield
    finally:
        _observador.reset(token)
