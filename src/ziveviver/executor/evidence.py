"""Evidence of a fill that did not go as the data says, as test runners keep it.

With ``--evidencias PASTA``, a record whose fill stopped (an error, a grid row left unsaved) or
whose receipt has a field that did not land leaves, named after its key, the page as it was
when its fill ended: ``KEY.png`` (a screenshot of the whole page), ``KEY.html`` (its markup)
and ``KEY.log`` (why, then the debug log lines of that fill alone, even when several tabs fill
at once). A record that landed whole leaves nothing. With ``--traco F.zip`` the browser
context records a Playwright trace of the whole fill (``playwright show-trace F.zip``).

The debug log lines are the package's own (its debug mode is on while evidence is kept); each
fill collects the lines logged from its own task, through a context variable.
"""
import contextvars
import logging
import pathlib
import re

from . import receipt
from .cli import InputError, exc_text, say, warn
from .frames import is_gone

_lines = contextvars.ContextVar("ziveviver.executor.evidence.lines", default=None)


class _FillLines(logging.Handler):
    """Hands every line the package logs to the fill (task) that logged it."""

    def emit(self, record):
        lines = _lines.get()
        if lines is not None:
            try:
                lines.append(self.format(record))
            except Exception:  # noqa: BLE001 - a line that cannot be formatted is left out
                pass


_handler = _FillLines(logging.INFO)


def check_options(folder, trace):
    """InputError for a --evidencias or --traco that cannot be used."""
    problems = []
    if folder and pathlib.Path(folder).exists() and not pathlib.Path(folder).is_dir():
        problems.append(f"--evidencias: {folder} é um ficheiro; indique uma pasta.")
    if trace:
        path = pathlib.Path(trace)
        if path.suffix.lower() != ".zip":
            problems.append(f"--traco: use um ficheiro .zip (não {trace!r}).")
        elif not path.resolve().parent.is_dir():
            problems.append(f"--traco: a pasta de {trace} não existe.")
    if problems:
        raise InputError(problems)


def add_options(p):
    p.add_argument("--evidencias", metavar="PASTA",
                   help="guarda, de cada registo que não ficou como os dados dizem (ou cujo "
                        "preenchimento parou), a captura de ecrã, o HTML da página e as linhas do "
                        "registo de depuração desse preenchimento")
    p.add_argument("--traco", metavar="F.zip",
                   help="grava um traço do Playwright de todo o preenchimento (playwright show-trace F.zip)")


def file_stem(key):
    """A record's key as the start of a file name."""
    stem = re.sub(r"[^\w.-]+", "_", str(key)).strip("._")
    return stem or "registo"


class Evidence:
    """What one fill leaves in `folder` when it does not go as the data says."""

    def __init__(self, folder, key):
        self.folder = pathlib.Path(folder)
        self.key = key
        self.lines = []
        self._token = None

    def start(self, page):
        """Collects the debug log lines the current task logs from now on. Turns the package's
        debug mode on (a controller's construction does), so the fill must run with debug."""
        from ziveviver import vexocontrole as vc

        vc.VexoControleApex(page, True)
        logger = vc.objfLog
        if isinstance(logger, logging.Logger) and _handler not in logger.handlers:
            if logger.handlers and logger.handlers[0].formatter:
                _handler.setFormatter(logger.handlers[0].formatter)
            logger.addHandler(_handler)
        self._token = _lines.set(self.lines)

    def stop(self):
        if self._token is not None:
            _lines.reset(self._token)
            self._token = None

    async def keep(self, page, outcome, rows):
        """Writes the evidence when the fill stopped, left a grid row unsaved or has a field
        that did not land (`rows`, the receipt, may be None when it could not be read); the
        files written, none for a clean fill."""
        self.stop()
        why = []
        if outcome is not None and outcome.error:
            why.append(outcome.error)
        for label, n in getattr(outcome, "unsaved", []) or []:
            why.append(f"{label}: a linha {n} não foi gravada")
        for row in rows or []:
            if row["estado"] in receipt.FAILED_STATES:
                line = f" linha {row['linha']}" if row.get("linha") is not None else ""
                why.append(f"{row['secao']}{line}.{row['coluna']} ({row['seletor']}): "
                           f"{receipt.MARKS[row['estado']]}, esperado {row['esperado']!r}, "
                           f"na página {row['obtido']!r}")
        if not why:
            return []
        written = await self._write(page, why)
        say(f"Evidências de {self.key}: {', '.join(str(p) for p in written)}")
        return written

    async def _write(self, page, why):
        self.folder.mkdir(parents=True, exist_ok=True)
        stem = file_stem(self.key)
        written = []
        log = self.folder / f"{stem}.log"
        log.write_text("\n".join([f"Registo {self.key}:", *("  " + w for w in why), "",
                                  "Registo de depuração deste preenchimento:", *self.lines]) + "\n",
                       encoding="utf-8")
        written.append(log)
        if page is not None and not is_gone(page):
            try:
                shot = self.folder / f"{stem}.png"
                # a form in a dialog page: the screenshot is of the tab, the markup the form's
                await getattr(page, "page", page).screenshot(path=str(shot), full_page=True)
                written.append(shot)
                html = self.folder / f"{stem}.html"
                html.write_text(await page.content(), encoding="utf-8")
                written.append(html)
            except Exception as e:  # noqa: BLE001 - the page went away: the log is still kept
                warn(f"evidências de {self.key}: a página não pôde ser guardada ({exc_text(e)}).")
        return written


class Trace:
    """A Playwright trace of a browser context (--traco), from start to save."""

    def __init__(self, path):
        self.path = pathlib.Path(path) if path else None
        self.context = None

    async def start(self, context):
        if self.path is None:
            return
        try:
            await context.tracing.start(screenshots=True, snapshots=True, sources=False)
            self.context = context
        except Exception as e:  # noqa: BLE001 - the fill goes on without its trace
            warn(f"--traco: o traço não pôde ser iniciado ({exc_text(e)}).")

    async def save(self):
        if self.context is None:
            return
        context, self.context = self.context, None
        try:
            await context.tracing.stop(path=str(self.path))
            say(f"Traço gravado em {self.path} (veja-o com: playwright show-trace {self.path})")
        except Exception as e:  # noqa: BLE001 - the browser went away before the trace was saved
            warn(f"--traco: o traço não pôde ser gravado ({exc_text(e)}).")
