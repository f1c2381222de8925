"""Helpers shared by the fill tests: page scripts by file name, and a logger that writes
into the fake page's record so page operations and log lines share one timeline."""
import pathlib

from fakepage import RecordingLogger

SCRIPTS_DIR = pathlib.Path(__file__).resolve().parents[2] / "native" / "vexocontrole" / "scripts"


def script(name):
    """The text of native/vexocontrole/scripts/<name>.js, as the module embeds it."""
    return (SCRIPTS_DIR / f"{name}.js").read_text(encoding="utf-8")


def script_name(text):
    """The file stem of the page script whose text is `text` (None when it is none of them)."""
    for path in SCRIPTS_DIR.glob("*.js"):
        if path.read_text(encoding="utf-8") == text:
            return path.stem
    return None


class TimelineLogger(RecordingLogger):
    """Keeps its lines and also appends ("log", level, message) to the page's ops."""

    def __init__(self, page):
        super().__init__()
        self.page = page

    def _add(self, level, msg, **kw):
        super()._add(level, msg, **kw)
        self.page.ops.append(("log", level, msg))


def timeline(page):
    """page.ops in a compact form: page operations as (op, selector, kwargs) with a page
    script named by its file stem, log lines as ("log", level, message)."""
    out = []
    for op, sel, kw in page.ops:
        if op == "evaluate":
            out.append(("evaluate", script_name(kw["script"]), kw["args"]))
        else:
            out.append((op, sel, kw))
    return out
