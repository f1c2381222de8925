"""The abi3 wheel (the limited-API build, `make abi3`), when ZIVEVIVER_ABI3_WHEEL names one: its
tag, its module files, and its modules at work on the running interpreter."""
import json
import os
import pathlib
import subprocess
import sys
import zipfile

import pytest

TESTS = pathlib.Path(__file__).resolve().parents[1]
MODULES = {"vexocontrole", "vexofuncoes", "vexoconferencia", "_probe"}
# A stable-ABI extension carries no interpreter version in its file name.
ABI3_SUFFIX = ".pyd" if sys.platform == "win32" else ".abi3.so"


@pytest.fixture(scope="module")
def abi3_wheel():
    given = os.environ.get("ZIVEVIVER_ABI3_WHEEL", "").strip()
    if not given:
        pytest.skip("ZIVEVIVER_ABI3_WHEEL names no abi3 wheel")
    path = pathlib.Path(given)
    assert path.is_file(), path
    return path


def wheel_tags(wheel):
    with zipfile.ZipFile(wheel) as z:
        (meta,) = [n for n in z.namelist() if n.endswith(".dist-info/WHEEL")]
        text = z.read(meta).decode("utf-8")
    return [line.split(":", 1)[1].strip() for line in text.splitlines() if line.startswith("Tag:")], text


def test_the_wheel_is_tagged_cp312_abi3(abi3_wheel):
    name_parts = abi3_wheel.name[: -len(".whl")].split("-")
    assert name_parts[0] == "ziveviver" and name_parts[-3:-1] == ["cp312", "abi3"], abi3_wheel.name
    tags, text = wheel_tags(abi3_wheel)
    assert tags and all(t.split("-")[:2] == ["cp312", "abi3"] for t in tags), text
    assert "Root-Is-Purelib: false" in text


def test_every_module_is_a_stable_abi_file(abi3_wheel):
    with zipfile.ZipFile(abi3_wheel) as z:
        names = z.namelist()
    binaries = [n for n in names if n.endswith((".so", ".pyd", ".dylib"))]
    assert sorted(binaries) == sorted(f"ziveviver/{m}{ABI3_SUFFIX}" for m in MODULES), binaries


RUN = r"""
import asyncio, json, sys
sys.path[:0] = [sys.argv[1], sys.argv[2]]
import ziveviver
from ziveviver import _probe, vexoconferencia, vexocontrole, vexofuncoes
from fakepage import FakePage

async def seven():
    await asyncio.sleep(0)
    return 7

page = FakePage()
filled = asyncio.run(vexocontrole.fCtPreencText(page, "#P1_NOME", "Ana", 700))
evaluated = [op[2]["args"] for op in page.ops if op[0] == "evaluate"]
print(json.dumps({
    "package": ziveviver.__file__,
    "files": [m.__file__ for m in (_probe, vexoconferencia, vexocontrole, vexofuncoes)],
    "filled": filled,
    "evaluated": evaluated,
    "probe": asyncio.run(_probe.await3(seven)),
}))
"""


@pytest.mark.skipif(sys.implementation.name != "cpython" or sys.version_info < (3, 12),
                    reason="a cp312-abi3 wheel needs CPython 3.12 or later")
def test_its_modules_import_and_run_coroutines_here(abi3_wheel, tmp_path):
    site = tmp_path / "site"
    with zipfile.ZipFile(abi3_wheel) as z:
        z.extractall(site)
    done = subprocess.run([sys.executable, "-c", RUN, str(site), str(TESTS)], cwd=tmp_path,
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    got = json.loads(done.stdout.strip().splitlines()[-1])
    pkg = (site / "ziveviver").resolve()
    assert pathlib.Path(got["package"]).resolve().parent == pkg
    files = [pathlib.Path(f).resolve() for f in got["files"]]
    assert all(f.parent == pkg and f.name.endswith(ABI3_SUFFIX) for f in files), files
    assert got["filled"] is None
    assert got["evaluated"] == [[["#P1_NOME", "Ana"]]]
    assert got["probe"] == 7
