"""Real rotating log files under volume, and a Logs folder that cannot be made.

100,000 lines through a real file logger of the factory leave only the rotated set of
files, none past its size, holding the newest lines whole and in order. A Logs folder that cannot be made gives the operating system's
own error, from the factory and from the controller, and a later call tries again.
"""
import errno
import logging
import os
import re

import pytest

from fakepage import FakePage
from ziveviver import vexofuncoes
from ziveviver.vexofuncoes import VexoFuncoes

LINES = 100_000
LINE = re.compile(r"^\[(?P<prefix>[^\]]*)\] \[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] \[INFO\] linha (?P<n>\d+) (?P<pad>.*)$")
PAD = "preenchimento ação 😀 " * 2


@pytest.fixture
def home(tmp_path, monkeypatch):
    """A temporary package folder as the factory's home, an empty logger cache; loggers
    made here are emptied and their files closed afterwards."""
    pkg = tmp_path / "pkg"
    pkg.mkdir()
    monkeypatch.setattr(vexofuncoes, "__file__", str(pkg / "vexofuncoes.so"))
    monkeypatch.setattr(VexoFuncoes, "_logger_cache", {})
    made = logging.root.manager.loggerDict
    before = {n: lg.handlers[:] for n, lg in made.items() if isinstance(lg, logging.Logger)}
    yield pkg
    for n, lg in list(made.items()):
        if isinstance(lg, logging.Logger) and n.startswith("ziveviver.vexofuncoes."):
            for h in lg.handlers:
                if h not in before.get(n, []):
                    h.close()
            lg.handlers[:] = before.get(n, [])


def factory_logger():
    return VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=2, pSiLogPrefixo="Volume", pArqLogNome="volume.log",
                            pArqLogMaxBytes=64 * 1024, pArqLogQtd=3)


def test_hundred_thousand_lines_stay_within_size_and_backups(home):
    name, max_bytes, backups = "volume.log", 64 * 1024, 3
    logger = factory_logger()
    for n in range(LINES):
        logger.info(f"linha {n} {PAD}")
    for h in logger.handlers:
        h.flush()

    logs = home / "Logs"
    expected = [name] + [f"{name}.{i}" for i in range(1, backups + 1)]
    assert sorted(p.name for p in logs.iterdir()) == sorted(expected)
    kept = []
    for file in reversed(expected):  # oldest backup first
        data = (logs / file).read_bytes()
        assert 0 < len(data) <= max_bytes, file
        for line in data.decode("utf-8").splitlines():
            m = LINE.match(line)
            assert m and m["pad"] == PAD, (file, line)
            kept.append(int(m["n"]))
    # the newest lines, whole, in order, none lost between the files
    assert kept == list(range(LINES - len(kept), LINES))
    line_bytes = len(f"[x] [2026-01-01 00:00:00] [INFO] linha {LINES - 1} {PAD}\n".encode())
    assert len(kept) * line_bytes >= backups * max_bytes * 0.9


def blocked(home, how):
    """Makes the Logs folder impossible to create; returns what the system says about it."""
    if how == "a file named Logs":
        (home / "Logs").write_text("ocupado")
    else:  # the package folder itself is a file
        home.rmdir()
        home.write_text("ocupado")
    with pytest.raises(OSError) as direct:
        os.makedirs(os.path.join(str(home), "Logs"), exist_ok=True)
    return direct.value


def unblock(home, how):
    if how == "a file named Logs":
        (home / "Logs").unlink()
    else:
        home.unlink()
        home.mkdir()


@pytest.mark.parametrize("how", ["a file named Logs", "the package folder is a file"])
def test_logs_folder_that_cannot_be_made_gives_the_systems_error_and_is_tried_again(home, vc, how):
    system = blocked(home, how)
    assert system.errno in (errno.EEXIST, errno.ENOTDIR)

    with pytest.raises(OSError) as factory:
        factory_logger()
    assert (type(factory.value), factory.value.errno, factory.value.filename) == (
        type(system), system.errno, system.filename)
    assert VexoFuncoes._logger_cache == {}

    # the controller: the flag is set, the module logger keeps what it had
    before = vc.objfLog
    page = FakePage()
    with pytest.raises(OSError) as ctl:
        vc.VexoControleApex(page, True)
    assert type(ctl.value) is type(system) and ctl.value.errno == system.errno
    assert vc.gDebugDev is True and vc.objfLog is before

    unblock(home, how)
    logger = factory_logger()
    logger.info("depois")
    assert VexoFuncoes._logger_cache == {logger.name: logger}
    vc.VexoControleApex(page, True)
    vc.objfLog.info("depois do controlador")
    assert (home / "Logs" / "volume.log").read_text(encoding="utf-8").endswith("depois\n")
    last = (home / "Logs" / "MorvelPy_Dev.log").read_text(encoding="utf-8").splitlines()[-1]
    assert last.startswith("[VexoControleApex] [") and last.endswith("] [INFO] depois do controlador")
