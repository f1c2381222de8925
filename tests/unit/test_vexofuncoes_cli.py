"""The logging module run as the main program, in a subprocess, against a temporary copy of
the installed package (its Logs folder then lands in the copy)."""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import ziveviver

DEFAULT_LINES = [
    "__name__. Nenhum parametro informado. Usar valor padrao:",
    "            pSiLog         = 2",
    "            pSiLogTipo     = 3",
    "            pSiLogPrefixo  = Tavoric/Main",
    "            pArqLogNome    = tavoric.log",
]
USAGE_LINES = [
    "__name__. AVISO: Quantidade parametros incorretao. Usar valor padrao.",
    "__name__. Uso correto:",
    "            python src\\vexofuncoes <pSiLog> <pSiLogTipo> <pSiLogPrefixo> <pArqLogNome> "
    "<pArqLogMaxBytes> <pArqLogQtd>",
    '            Exemplo: python src\\vexofuncoes 2 3 "TESTE/Main" "teste.log" 500000 2',
]
DEFAULT_LOGGER = ("__main__.Tavoric/Main.tavoric.log", True, (500000, 2), "tavoric.log")

# Runs the console entry point as the script does, then reports every logger the run left
# behind (and writes one line through each, to read back from its file).
PROBE = r"""
import json, logging, sys
sys.argv = ["vexofuncoes"] + sys.argv[1:]
from ziveviver._cli import vexofuncoes_main
status = vexofuncoes_main()
import ziveviver
loggers = {}
for name, lg in list(logging.root.manager.loggerDict.items()):
    if isinstance(lg, logging.Logger) and name.startswith(("__main__.", "null_")):
        loggers[name] = [
            [type(h).__name__, logging.getLevelName(h.level), getattr(h, "maxBytes", None),
             getattr(h, "backupCount", None), getattr(h, "baseFilename", None)]
            for h in lg.handlers
        ]
        lg.info("linha de teste")
print("@@" + json.dumps({"status": status, "package": ziveviver.__file__, "loggers": loggers}))
"""
LINE = re.compile(r"^\[(.*)\] \[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] \[INFO\] linha de teste$")


@pytest.fixture
def site(tmp_path):
    """A copy of the installed package, first on the path of the subprocesses."""
    root = tmp_path / "site"
    shutil.copytree(
        pathlib.Path(ziveviver.__file__).parent,
        root / "ziveviver",
        ignore=shutil.ignore_patterns("Logs", "__pycache__"),
    )
    return root


def run(site, args, how="probe"):
    env = dict(os.environ, PYTHONPATH=str(site))
    if how == "probe":
        cmd = [sys.executable, "-c", PROBE, *args]
    elif how == "script":
        script = pathlib.Path(sys.executable).parent / "vexofuncoes"
        if not script.exists():
            pytest.skip("console script not installed")
        cmd = [str(script), *args]
    else:
        cmd = [sys.executable, "-m", "ziveviver._cli", *args]
    return subprocess.run(cmd, env=env, cwd=site.parent, capture_output=True, text=True, timeout=60)


def logs(site):
    folder = site / "ziveviver" / "Logs"
    return sorted(p.name for p in folder.iterdir()) if folder.exists() else None


@pytest.mark.parametrize(
    "args, out, logger",
    [
        ([], DEFAULT_LINES, DEFAULT_LOGGER),
        (["0", "1", "x", "y.log", "10", "1"], [], None),
        (
            ["2", "2", "P", "f.log", "1e6", "7"],
            [
                "__name__. Erro ao converter parametro: invalid literal for int() with base 10: '1e6'",
                "__name__. Usando valores padrao",
            ],
            ("__main__.P.f.log", False, (500000, 2), "f.log"),
        ),
        (
            ["abc", "1", "Z", "z.log", "10", "1"],
            [
                "__name__. Erro ao converter parametro: invalid literal for int() with base 10: 'abc'",
                "__name__. Usando valores padrao",
            ],
            DEFAULT_LOGGER,
        ),
        (["2", "2", "P", "f.log", "10"], USAGE_LINES, DEFAULT_LOGGER),
        (["2", "2", "P", "f.log", "10", "1", "9"], USAGE_LINES, DEFAULT_LOGGER),
        (["2", "2", '"Main"', '""q.log""', "300", "4"], [], ("__main__.Main.q.log", False, (300, 4), "q.log")),
        (["2", " 3 ", "Pre", "arq.log", "1_000", "+4"], [], ("__main__.Pre.arq.log", True, (1000, 4), "arq.log")),
    ],
)
def test_command_line(site, args, out, logger):
    done = run(site, args)
    assert done.returncode == 0, done.stderr
    *printed, last = done.stdout.splitlines()
    assert last.startswith("@@")
    assert printed == out
    report = json.loads(last[2:])
    assert report["status"] is None
    assert report["package"].startswith(str(site))
    folder = site / "ziveviver" / "Logs"
    if logger is None:
        ((only, handlers),) = report["loggers"].items()
        assert only.startswith("null_") and [h[0] for h in handlers] == ["NullHandler"]
        assert logs(site) is None
        return
    name, console, limits, file = logger
    assert list(report["loggers"]) == [name]
    handlers = report["loggers"][name]
    expected = [["StreamHandler", "INFO", None, None, None]] if console else []
    expected.append(["RotatingFileHandler", "INFO", *limits, str(folder / file)])
    assert handlers == expected
    assert logs(site) == [file]
    prefix = name.split(".")[1]
    (line,) = (folder / file).read_text(encoding="utf-8").splitlines()
    assert LINE.match(line)[1] == prefix
    console_lines = [x for x in done.stderr.splitlines() if LINE.match(x)]
    assert len(console_lines) == console


@pytest.mark.parametrize(
    "how, args, out, files",
    [
        ("script", [], DEFAULT_LINES, ["tavoric.log"]),
        ("script", ["2", "2", '"Main"', "m.log", "1e6", "1"], [
            "__name__. Erro ao converter parametro: invalid literal for int() with base 10: '1e6'",
            "__name__. Usando valores padrao",
        ], ["m.log"]),
        ("script", ["0", "1", "x", "y.log", "10", "1"], [], None),
        ("script", ["1"], USAGE_LINES, ["tavoric.log"]),
        ("module", [], DEFAULT_LINES, ["tavoric.log"]),
    ],
)
def test_installed_entry_points(site, how, args, out, files):
    done = run(site, args, how)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == out
    assert done.stderr == ""
    assert logs(site) == files
    if files:
        assert (site / "ziveviver" / "Logs" / files[0]).read_text() == ""


def test_logs_folder_that_cannot_be_made_ends_the_run_with_an_error(site):
    (site / "ziveviver" / "Logs").write_text("no caminho")
    done = run(site, [], "script")
    assert done.returncode != 0
    assert done.stdout.splitlines() == DEFAULT_LINES
    assert "Traceback" in done.stderr and "Error" in done.stderr
