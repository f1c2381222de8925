"""Progress of a fill: what the whole-form fill will go through (the plan), where it is, read
from its events (``ziveviver.eventos``), and how it ended (the outcome).

On a terminal the progress is one live bar (fields done out of the total, the field being
filled, an estimate of the time left); anywhere else (a log, CI, a pipe) it is one plain line
per field and grid row. The fill itself is the plain ``fCtPreencTodoForm``: nothing of the
module or the controller is replaced while it runs.
"""
import time
import types

from .cli import count, exc_text, say, warn
from .inputs import GRIDS, grids_filled, is_blank, rep_filled, simple_fields

LABELS = {"Formulario": "Formulário", "Representantes": "Representante", "Titulares": "Titulares",
          "Beneficiarios": "Beneficiários"}


class Plan:
    """What the whole-form fill will go through, counted the way it decides."""

    def __init__(self, mapping, data):
        self.fields = simple_fields(mapping)
        self.rep = list(mapping["Representantes"].items()) if rep_filled(mapping, data) else []
        self.grids = {}
        for key in grids_filled(mapping, data):
            add, save = GRIDS[key]
            self.grids[key] = types.SimpleNamespace(
                rows=len(data[key]), cells=sum(1 for c in mapping[key] if c not in (add, save)))
        self.total = len(self.fields) + len(self.rep) + sum(g.rows * g.cells for g in self.grids.values())

    def summary(self):
        parts = [f"{len(self.fields)} do formulário"]
        if self.rep:
            parts.append(f"{len(self.rep)} do representante")
        for key, g in self.grids.items():
            parts.append(f"{count(g.rows, 'linha')} de {LABELS[key]}")
        return f"A preencher {count(self.total, 'campo')}: {', '.join(parts)}."


def _rows(n):
    return count(n, "linha")


class LinesView:
    """Progress as plain lines, one per field and per grid row: for logs, CI and pipes."""

    def __init__(self, write=say):
        self.write = write
        self.total = 0

    def _count(self, n):
        return f"[{n:>{len(str(self.total))}}/{self.total}]"

    def start(self, summary, total):
        self.total = total
        self.write(summary)

    def field(self, n, label, column, kind, blank):
        self.write(f"{self._count(n)} {label}: {column} ({kind}){' (sem valor)' if blank else ''}")

    def cell(self, done, label, row, rows, column, kind):
        pass

    def grid(self, label, rows):
        self.write(f"{label}: {_rows(rows)} a preencher")

    def row(self, label, row, rows):
        self.write(f"{' ' * len(self._count(0))} {label}: linha {row} de {rows}...")

    def row_saved(self, done, label, row, rows):
        self.write(f"{self._count(done)} {label}: linha {row} de {rows} gravada")

    def advance(self, done):
        pass

    def stop(self):
        pass


class BarView:
    """Progress as one live bar on a terminal: fields done out of the total, the field being
    filled, and an estimate of the time left. Other lines (warnings) print above it."""

    def __init__(self, console=None):
        from rich.console import Console
        from rich.progress import (BarColumn, MofNCompleteColumn, Progress, TextColumn,
                                   TimeRemainingColumn)

        self.bar = Progress(BarColumn(), MofNCompleteColumn(), TextColumn("faltam"),
                            TimeRemainingColumn(), TextColumn("{task.description}"),
                            console=console or Console(), transient=False)
        self.task = None

    def start(self, summary, total):
        self.bar.console.print(summary, highlight=False)
        self.bar.start()
        self.task = self.bar.add_task("", total=total)

    def field(self, n, label, column, kind, blank):
        self.bar.update(self.task, description=f"{label}: {column} ({kind})")

    def cell(self, done, label, row, rows, column, kind):
        self.bar.update(self.task, description=f"{label}, linha {row} de {rows}: {column} ({kind})")

    def grid(self, label, rows):
        pass

    def row(self, label, row, rows):
        self.bar.update(self.task, description=f"{label}: linha {row} de {rows}...")

    def row_saved(self, done, label, row, rows):
        self.bar.update(self.task, completed=done, description=f"{label}: linha {row} de {rows} gravada")

    def advance(self, done):
        self.bar.update(self.task, completed=done)

    def stop(self):
        if self.task is not None:
            self.bar.update(self.task, description="")
        self.bar.stop()


def live_view():
    """The bar when the output is a terminal, plain lines otherwise."""
    from rich.console import Console

    console = Console()
    return BarView(console) if console.is_terminal and not console.is_dumb_terminal else LinesView()


class Progress:
    """Follows the fill through its events and shows where it is on `view`; remembers what a
    failure message needs and which grid rows were not saved."""

    def __init__(self, plan, data, view):
        self.plan, self.data, self.view = plan, data, view
        self.done = 0  # fields finished (every cell of a row that ended counts)
        self.section = None
        self.where = None  # where the fill is, for failure messages ("no campo ...")
        self.row = 0
        self.row_cells = 0  # cells of the current row that ended
        self.unsaved = []  # (section label, row number) of grid rows that were never saved

    def _label(self):
        return LABELS.get(self.section, self.section)

    def _value(self, column):
        record = self.data.get("Representantes") if self.section == "Representantes" else self.data
        return record.get(column) if isinstance(record, dict) else None

    def __call__(self, event):
        getattr(self, "on_" + event["evento"], lambda e: None)(event)

    def on_secao_inicio(self, e):
        self.section, self.row = e["secao"], 0
        self.where = f"na secção {self._label()}"
        if self.section in self.plan.grids:
            self.view.grid(self._label(), self.plan.grids[self.section].rows)

    def on_campo_inicio(self, e):
        col, kind = e["coluna"], e["tipo"]
        if e["linha"] is None:
            self.where = f'no campo "{col}" ({kind}, {e["seletor"]})'
            self.view.field(self.done + 1, self._label(), col, kind, is_blank(self._value(col)))
        else:
            self.view.cell(self.done, self._label(), e["linha"], self._rows(), col, kind)

    def on_campo_fim(self, e):
        self.done += 1
        if e["linha"] is not None:
            self.row_cells += 1
        self.view.advance(self.done)

    def on_linha_inicio(self, e):
        self.row, self.row_cells = e["linha"], 0
        self.where = f"na {self.row_name()}"
        self.view.row(self._label(), self.row, self._rows())

    def _rows(self):
        return self.plan.grids[self.section].rows

    def _end_row(self):
        self.done += self.plan.grids[self.section].cells - self.row_cells
        self.row_cells = 0

    def on_linha_gravada(self, e):
        self._end_row()
        self.view.row_saved(self.done, self._label(), self.row, self._rows())

    def on_linha_ignorada(self, e):
        if (e["erro"] or "").startswith("SystemExit"):
            return  # a cell failed: the fill stops here, and its failure says so
        self._end_row()
        self.view.advance(self.done)
        self.unsaved.append((self._label(), self.row))
        warn(f"{self._label()}: a linha {self.row} de {self._rows()} não foi gravada (o botão de "
             "acrescentar ou de gravar não respondeu; veja o registo de depuração, com --debug).")

    def row_name(self):
        return f"linha {self.row} de {self._label()}" if self.row else f"grelha {self._label()}"


class FillOutcome:
    def __init__(self):
        self.complete = False
        self.error = None  # message for the user when the fill stopped
        self.unsaved = []
        self.wall_ms = 0.0  # how long the whole-form fill took


async def fill_form(page, mapping, data, *, debug=False, view=None, observers=(), controller_out=None):
    """Fills the form with the whole-form fill while following its events (progress on `view`,
    plain lines by default; every event also to each of `observers`); never raises for a
    failure of the fill itself (the outcome says what happened)."""
    from ziveviver import eventos
    from ziveviver import vexocontrole as vc

    plan = Plan(mapping, data)
    view = view if view is not None else LinesView()
    progress = Progress(plan, data, view)
    outcome = FillOutcome()
    ctl = vc.VexoControleApex(page, debug)
    if controller_out is not None:
        controller_out.append(ctl)

    def observe(event):
        progress(event)
        for observer in observers:
            observer(event)

    view.start(plan.summary(), plan.total)
    started = time.perf_counter()
    try:
        with eventos.observar(observe):
            await ctl.fCtPreencTodoForm(mapping, data)
        outcome.complete = True
    except SystemExit:
        # a grid cell that fails ends the run with exit status 1
        outcome.error = (f"uma célula da {progress.row_name()} falhou e o preenchimento parou (a "
                         "linha não foi gravada).")
    except Exception as e:  # noqa: BLE001 - every failure of the fill is reported, not raised
        outcome.error = f"o preenchimento parou {progress.where or 'antes do primeiro campo'}: {exc_text(e)}"
    finally:
        outcome.wall_ms = (time.perf_counter() - started) * 1000
        view.stop()
    outcome.unsaved = progress.unsaved
    return outcome
