"""VexoControleApex construction: the page, the module's debug flag and logger, start lines."""
import pathlib
import subprocess
import sys

import pytest

from ziveviver import vexofuncoes

START = ("---------------------------------------------------- VexoControleApex -> Inicio "
         "----------------------------------------------------")


@pytest.fixture
def logs_dir(tmp_path, monkeypatch):
    monkeypatch.setattr(vexofuncoes, "__file__", str(tmp_path / "vexofuncoes.so"))
    return tmp_path / "Logs"


def read_lines(path):
    return [line.split("] ", 3)[-1] for line in path.read_text(encoding="utf-8").splitlines()]


def test_plain_construction_is_silent_and_creates_nothing(vc, logs_dir):
    page = object()
    ctl = vc.VexoControleApex(page)
    assert ctl.page is page and vars(ctl) == {"page": page}
    assert vc.gDebugDev is False
    assert vc.objfLog.name == f"null_{id(vexofuncoes.VexoFuncoes)}"
    assert not logs_dir.exists()


def test_debug_construction_writes_the_start_lines_to_the_dev_log(vc, logs_dir):
    vexofuncoes.VexoFuncoes._logger_cache.pop("ziveviver.vexofuncoes.VexoControleApex.MorvelPy_Dev.log", None)
    try:
        vc.VexoControleApex("p1", 1)
        first = vc.objfLog
        vc.VexoControleApex("p2", True)
        assert vc.objfLog is first and vc.gDebugDev is True
        assert first.name == "ziveviver.vexofuncoes.VexoControleApex.MorvelPy_Dev.log"
        assert len(first.handlers) == 1  # one file handle however many controllers
        log_file = logs_dir / "MorvelPy_Dev.log"
        assert read_lines(log_file) == [START, "VexoControleApex -> pDebugDev True"] * 2
        assert log_file.read_text(encoding="utf-8").startswith("[VexoControleApex] [")
    finally:
        logger = vexofuncoes.VexoFuncoes._logger_cache.pop(
            "ziveviver.vexofuncoes.VexoControleApex.MorvelPy_Dev.log", None)
        if logger:
            for h in logger.handlers:
                h.close()


def test_a_later_construction_decides_the_logging_of_every_call(vc, logs_dir, page, run):
    from fakepage import RecordingLogger

    vc.gDebugDev, vc.objfLog = True, RecordingLogger()
    vc.VexoControleApex(page, False)
    assert vc.gDebugDev is False
    page.on("count", 0)
    run(vc.fCtPreencText(page, "#A", "x"))  # would warn with debug on
    assert vc.objfLog.handlers[0].__class__.__name__ == "NullHandler"


def test_the_factory_is_read_from_the_module_at_each_construction(vc):
    seen = []

    class Factory:
        @classmethod
        def fLog(cls, **kw):
            seen.append(kw)
            raise OSError("no Logs here")

    vc.VexoFuncoes = Factory
    with pytest.raises(OSError):
        vc.VexoControleApex("page", "yes")
    assert seen == [dict(pSiLog=2, pSiLogTipo=2, pSiLogPrefixo="VexoControleApex",
                         pArqLogNome="MorvelPy_Dev.log", pArqLogMaxBytes=500000, pArqLogQtd=1,
                         pDebugDev=True)]
    assert vc.gDebugDev is True  # set before the factory failed


def test_importing_the_controller_module_loads_the_logging_module():
    code = ("import sys; import ziveviver.vexocontrole as m; "
            "print('ziveviver.vexofuncoes' in sys.modules, m.VexoFuncoes.__module__)")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["True", "ziveviver.vexofuncoes"]
