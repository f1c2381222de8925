"""Which records file a ``lote`` status file belongs to.

The first line of every run names its records file (the path as given, the file's full path
and a digest of its bytes). A later run over the same status file must be on the same records:
the same full path (its records may have been edited since: the resume rules say what happens
to them), or a file with the same bytes (the same file, moved). Any other file is refused
before anything is filled, so that one run's states are never read as another's records."""
import hashlib
import pathlib

KEYS = ("registos_caminho", "registos_impressao")


def digest(path):
    """A short digest of a file's bytes (None when it cannot be read)."""
    h = hashlib.sha256()
    try:
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 16), b""):
                h.update(block)
    except OSError:
        return None
    return h.hexdigest()[:16]


def of(records_path):
    """The fields a run line carries about its records file."""
    p = pathlib.Path(records_path)
    return {"registos_caminho": str(p.resolve()), "registos_impressao": digest(p)}


def bound_to(lines):
    """The last run line that names a records file (None when no run line does)."""
    for line in reversed(lines):
        if "execucao" in line and "chave" not in line and line.get("registos"):
            return line
    return None


def mismatch(lines, records_path):
    """None when the status file may be used with `records_path`; else the records file it
    belongs to, as its run line names it."""
    line = bound_to(lines)
    if line is None:
        return None
    here = pathlib.Path(records_path)
    if not line.get("registos_caminho"):  # a run line of an older runner: only the name to go by
        return None if pathlib.Path(line["registos"]).name == here.name else line["registos"]
    if line["registos_caminho"] == str(here.resolve()):
        return None
    fingerprint = line.get("registos_impressao")
    if fingerprint is not None and fingerprint == digest(here):
        return None  # the same file, moved
    return line["registos"]


def default_paths(records_path, part):
    """The report and status file a records file has by default: ``reg.jsonl.relatorio.csv``
    beside ``reg.jsonl``. A batch begun by an older runner, whose default dropped the
    extension (``reg.relatorio.csv``), keeps its files when its status file names this
    records file."""
    from .statusfile import parse_lines, part_paths

    records = pathlib.Path(records_path)
    new = part_paths(records.with_name(records.name + ".relatorio.csv"), part)
    old = part_paths(records.with_suffix(".relatorio.csv"), part)
    if new[1].exists() or not old[1].exists():
        return new
    try:
        lines, _ = parse_lines(old[1].read_text(encoding="utf-8", errors="replace"), old[1])
    except OSError:
        return new
    return old if bound_to(lines) is not None and mismatch(lines, records) is None else new
