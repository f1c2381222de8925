"""The status file of ``ziveviver lote`` and the report made from it.

The status file is JSON Lines, one object per change, appended, flushed and synced to disk at
once, so that a process that dies loses nothing it had recorded. A line about a record carries
its key ("chave"), position, state ("estado") and time ("quando"):

- ``preenchido``: filled and handed to the operator ("campos_certos"/"campos_esperados" from
  the receipt, "diferentes", "preenchimento_s", "retidos");
- ``falhou``: the fill or the page failed ("motivo");
- ``a_submeter``: the operator's submit is on its way to the application; written (and synced)
  before the request leaves the browser, so that a run that dies before the answer still knows;
- ``submetido``: the application's answer to the submit arrived, without errors
  ("a_espera_do_operador_s": from ready to submitted; "operador_esperou_s": from the previous
  submission until this form was ready in front of the operator);
- ``rejeitado``: the application answered the submit with errors ("motivo": their text); the
  form stays in front of the operator, who may correct it and submit again;
- ``por_confirmar``: a submit was sent but its answer never came (the run ended or died
  first); whether the application took it is for the operator to check ("motivo");
- ``ignorado``: the operator skipped the record ("motivo");
- ``parado``: the record was not submitted: the run stopped, or its tab was closed ("motivo").

Each run starts with a line without a key: {"execucao": n, "quando", "registos", "parte",
"cdp"}; "cdp" says whether the run filled in a browser the operator opened (--cdp).
A new run over the same files goes on from the last state of each key: records submitted or
ignored are left alone, and so are those whose submission is unconfirmed (``a_submeter`` left by
a run that died is recorded ``por_confirmar``) unless the operator names them (--refazer); the
rest, those that failed or were refused included, are filled again. A run that ends records
every form it leaves ``parado`` as it closes it, so a record last ``preenchido`` or ``rejeitado``
was left open by a run that died (or was stopped again while it closed its tabs). When that run
filled in the operator's browser, the form may have been submitted since, unwatched: such a
record is filled again only when the new run finds its tab still on the form (see ``left_open``).
"""
import hashlib
import json
import os
import pathlib
import time

from . import binding
from .cli import count
from .receipt import write_rows

STATES = ("preenchido", "falhou", "a_submeter", "submetido", "rejeitado", "ignorado", "parado",
          "por_confirmar")
SETTLED = ("submetido", "ignorado")  # not filled again by a later run
UNCONFIRMED = ("a_submeter", "por_confirmar")  # sent, answer unknown: only refilled when named
UNCONFIRMED_TEXT = "submissão por confirmar"
LEFT_OPEN = ("preenchido", "rejeitado")  # last states of a form a run left open when it died
# How the summaries count the records in each state ("1 submetido", "2 falharam").
STATE_WORDS = {"preenchido": ("preenchido", "preenchidos"), "falhou": ("falhou", "falharam"),
               "a_submeter": ("a submeter", "a submeter"), "submetido": ("submetido", "submetidos"),
               "rejeitado": ("rejeitado", "rejeitados"), "ignorado": ("ignorado", "ignorados"),
               "parado": ("parado", "parados"), "por_confirmar": ("por confirmar", "por confirmar"),
               "pendente": ("pendente", "pendentes")}
ATTEMPTS = ("preenchido", "falhou")  # a line that starts a new attempt at the record
PENDING = "pendente"  # the report's word for a record no run has reached
REPORT_COLUMNS = ("chave", "posicao", "resultado", "motivo", "campos_certos", "campos_esperados",
                  "preenchimento_s", "a_espera_do_operador_s", "operador_esperou_s")
REPORT_FORMATS = (".csv", ".json")


def fingerprint(data):
    """A short digest of a record's data, to notice a record changed between runs."""
    text = json.dumps(data, sort_keys=True, ensure_ascii=False, default=str)
    return hashlib.sha256(text.encode("utf-8")).hexdigest()[:16]


def now_text():
    return time.strftime("%Y-%m-%dT%H:%M:%S%z")


def parse_lines(text, path):
    """The status file's objects in order, and a warning for every line that is not one (a line
    cut short when a process died while writing it)."""
    lines, warnings = [], []
    for n, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        try:
            obj = json.loads(line)
        except json.JSONDecodeError:
            obj = None
        if isinstance(obj, dict):
            lines.append(obj)
        else:
            warnings.append(f"{path}, linha {n}: linha de estado ilegível, ignorada.")
    return lines, warnings


def fold(lines):
    """Per key, what its lines say, the later over the earlier; a new attempt (preenchido,
    falhou) starts the record's entry afresh."""
    out = {}
    for line in lines:
        if line.get("chave") is not None and line.get("estado") in STATES:
            _merge(out, line)
    return out


def _merge(state, line):
    key = line["chave"]
    if line["estado"] in ATTEMPTS or key not in state:
        state[key] = {}
    state[key].update(line)


class InUse(Exception):
    """Another run holds the status file."""


def _lock(f):
    """Holds the file for this process alone (while it stays open); InUse when another has it."""
    try:
        if os.name == "nt":
            import msvcrt

            f.seek(0)
            msvcrt.locking(f.fileno(), msvcrt.LK_NBLCK, 1)
        else:
            import fcntl

            fcntl.flock(f.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        f.close()
        raise InUse() from None


class StatusFile:
    """Appends lines to the status file; each line is on disk when append returns. One run at
    a time holds the file: two runs over the same records would fill them twice."""

    def __init__(self, path):
        self.path = pathlib.Path(path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self._file = open(self.path, "a+b")
        _lock(self._file)
        self._file.seek(0)  # read through the locked file: on Windows the lock bars other reads
        text = self._file.read().decode("utf-8", errors="replace")
        self.lines, self.warnings = parse_lines(text, self.path)
        self.state = fold(self.lines)
        self._file.seek(0, os.SEEK_END)
        if self._file.tell():
            self._file.seek(-1, os.SEEK_END)
            if self._file.read(1) != b"\n":
                self._write(b"\n")  # a line cut short stays on its own
        self.run = 1 + sum(1 for line in self.lines if "execucao" in line and "chave" not in line)
        self.listeners = []

    def _write(self, raw):
        self._file.write(raw)
        self._file.flush()
        os.fsync(self._file.fileno())

    def _append(self, obj):
        self._write((json.dumps(obj, ensure_ascii=False) + "\n").encode("utf-8"))
        self.lines.append(obj)

    def start_run(self, records_path, part, cdp=True):
        """The run's first line; `cdp`: it fills in a browser the operator opened, whose tabs
        outlive the run."""
        self._append({"execucao": self.run, "quando": now_text(), "registos": str(records_path),
                      "parte": f"{part[0]}/{part[1]}" if part else None, "cdp": bool(cdp),
                      **binding.of(records_path)})

    def record(self, rec, state, **fields):
        """Appends a line about a record and tells the listeners."""
        assert state in STATES, state
        line = {"chave": rec.key, "posicao": rec.position, "estado": state, "quando": now_text(),
                "execucao": self.run, "impressao": fingerprint(rec.data)}
        line.update(fields)
        self._append(line)
        _merge(self.state, line)
        for listener in self.listeners:
            listener()

    def last(self, key):
        return self.state.get(key, {}).get("estado")

    def close(self):
        self._file.close()


def resume_plan(records, status, redo=()):
    """The records this run fills, those whose submission an earlier run left unconfirmed (not
    filled again unless their key is in `redo`), and what the earlier runs left, as lines for
    the user."""
    todo, unconfirmed, notes = [], [], []
    counts = dict.fromkeys(STATES, 0)
    for rec in records:
        last = status.state.get(rec.key)
        if last is None:
            todo.append(rec)
            continue
        counts[last["estado"]] += 1
        if last["estado"] in UNCONFIRMED and rec.key not in redo:
            unconfirmed.append(rec)
            notes.append(f"Registo {rec.position} (chave {rec.key}): {UNCONFIRMED_TEXT}: o pedido "
                         "foi enviado à aplicação, mas a resposta não chegou. Confirme-o na aplicação; "
                         f"se não ficou registado, corra de novo com --refazer {rec.key}.")
            continue
        if last["estado"] in SETTLED:
            if rec.key in redo:
                notes.append(f"--refazer {rec.key}: o registo {rec.position} foi {last['estado']}; "
                             "não é preenchido de novo.")
            if last.get("impressao") not in (None, fingerprint(rec.data)):
                notes.append(f'o registo {rec.position} (chave {rec.key}) mudou desde que foi '
                             f"{last['estado']}; não é preenchido de novo.")
            continue
        todo.append(rec)
    if any(counts.values()):
        pending = sum(counts[s] for s in ("preenchido", "parado", "rejeitado"))
        line = (f"Execuções anteriores: {state_count(counts['submetido'], 'submetido')} e "
                f"{state_count(counts['ignorado'], 'ignorado')} (ficam como estão)")
        unsure = sum(counts[s] for s in UNCONFIRMED)
        if unsure:
            line += f"; {count(unsure, 'submissão', 'submissões')} por confirmar"
        line += (f"; {state_count(counts['falhou'], 'falhou')} e "
                 f"{count(pending, 'ficou', 'ficaram')} por submeter (voltam a ser "
                 "preenchidos).")
        notes.insert(0, line)
    return todo, unconfirmed, notes


def left_open(records, status, redo=()):
    """The records (of `records`, not named in `redo`) whose form a run that died left open in
    the operator's browser: the operator may have submitted it after the run died, with no run
    to record it. A browser the run started itself went with it (nobody could submit there),
    so its records are filled again as any other; a run line without "cdp" (an older runner's)
    or none at all may have been the operator's browser."""
    runs = {line["execucao"]: line for line in status.lines if "execucao" in line and "chave" not in line}
    out = []
    for rec in records:
        last = status.state.get(rec.key, {})
        if last.get("estado") in LEFT_OPEN and rec.key not in redo:
            run = runs.get(last.get("execucao"), {})
            if run.get("cdp", True):
                out.append(rec)
    return out


def state_count(n, state):
    return count(n, *STATE_WORDS.get(state, (state, state)))


# ------------------------------------------------------------------------------ report

def report_paths(report, records_path, part):
    """The report's path and the status file's beside it; with --parte each part has its own.
    By default the records file's whole name (extension included) starts the report's, so
    that reg.jsonl and reg.csv keep their own files."""
    if report:
        return part_paths(pathlib.Path(report), part)
    return binding.default_paths(records_path, part)


def part_paths(report, part):
    """The report of a part (``relatorio.parte-K-de-N.csv``), and its status file beside it."""
    if part:
        report = report.with_name(f"{report.stem}.parte-{part[0]}-de-{part[1]}{report.suffix}")
    return report, report.with_name(report.stem + ".estado.jsonl")


def report_rows(records, status):
    rows = []
    for rec in records:
        last = status.state.get(rec.key, {})
        row = {c: last.get(c) for c in REPORT_COLUMNS}
        row.update(chave=rec.key, posicao=rec.position, resultado=last.get("estado", PENDING))
        rows.append(row)
    return rows


def write_report(path, rows):
    """The report as CSV, or JSON for a .json path; replaced whole, never left half written."""
    write_rows(path, rows, REPORT_COLUMNS)
