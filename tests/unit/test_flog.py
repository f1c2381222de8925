"""The logger factory VexoFuncoes.fLog, with real loggers writing real files.

The factory puts its Logs folder beside the module's file; the `home` fixture points the
module's __file__ at a temporary folder so nothing is written into the installed package.
"""
import datetime
import decimal
import importlib.util
import inspect
import logging
import re
import types

import pytest

from ziveviver import vexofuncoes
from ziveviver.vexofuncoes import VexoFuncoes

LINE = re.compile(
    r"^\[(?P<prefix>.*)\] \[(?P<time>\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\] "
    r"\[(?P<level>[A-Z]+)\] (?P<msg>.*)$"
)
NULL_NAME = f"null_{id(VexoFuncoes)}"


@pytest.fixture
def home(tmp_path, monkeypatch):
    """A temporary package folder as the module's home and an empty logger cache. Loggers
    touched by the test get their former handlers, level and propagation back; handlers
    made by the test are closed."""
    pkg = tmp_path / "pkg"
    pkg.mkdir()
    monkeypatch.setattr(vexofuncoes, "__file__", str(pkg / "vexofuncoes.so"))
    monkeypatch.setattr(VexoFuncoes, "_logger_cache", {})
    registry = logging.root.manager.loggerDict
    before = {
        n: (lg.handlers[:], lg.level, lg.propagate)
        for n, lg in registry.items()
        if isinstance(lg, logging.Logger)
    }
    yield pkg
    for n, lg in list(registry.items()):
        if not isinstance(lg, logging.Logger):
            continue
        old = before.get(n)
        for h in lg.handlers:
            if old is None or h not in old[0]:
                h.close()
        if old is not None:
            lg.handlers[:] = old[0]
            lg.setLevel(old[1])
            lg.propagate = old[2]
        elif n.startswith("ziveviver.vexofuncoes."):
            lg.handlers.clear()


def lines(path):
    return path.read_text(encoding="utf-8").splitlines()


def cache():
    return VexoFuncoes._logger_cache


# ------------------------------------------------------------------ module surface


def test_fresh_module_globals_and_factory_signature():
    found = importlib.util.find_spec("ziveviver.vexofuncoes")
    fresh = importlib.util.module_from_spec(found)
    found.loader.exec_module(fresh)
    names = [k for k in vars(fresh) if not k.startswith("__")]
    assert names == ["os", "sys", "logging", "RotatingFileHandler", "MappingProxyType", "VexoFuncoes"]
    import logging.handlers
    import os
    import sys

    assert (fresh.os, fresh.sys, fresh.logging) == (os, sys, logging)
    assert fresh.RotatingFileHandler is logging.handlers.RotatingFileHandler
    assert fresh.MappingProxyType is types.MappingProxyType
    cls = fresh.VexoFuncoes
    assert cls.__mro__[1:] == (object,)
    assert cls._logger_cache == {} and type(cls._logger_cache) is dict
    assert [k for k in vars(cls) if not k.startswith("__")] == ["_logger_cache", "fLog"]
    assert isinstance(vars(cls)["fLog"], classmethod)
    assert str(inspect.signature(cls.fLog)) == (
        "(pSiLog: int = 0, pSiLogTipo: int = 0, pSiLogPrefixo: str = '', "
        "pArqLogNome: str = 'MorvelPy.log', pArqLogMaxBytes: int = 1000000, pArqLogQtd: int = 1, "
        "pDebugDev: bool = True) -> 'logging.Logger'"
    )
    assert cls.fLog.__qualname__ == "VexoFuncoes.fLog"


# ------------------------------------------------------------------ silent logger


@pytest.mark.parametrize(
    "kwargs",
    [
        {},
        {"pSiLog": 2, "pSiLogTipo": 3, "pDebugDev": False},
        {"pSiLog": 2, "pSiLogTipo": 3, "pDebugDev": 0},
        {"pSiLog": 1, "pSiLogTipo": 3},
        {"pSiLog": 3, "pSiLogTipo": 3},
        {"pSiLog": True, "pSiLogTipo": 3},  # True is 1
    ],
)
def test_silent_logger(home, capsys, caplog, kwargs):
    first = VexoFuncoes.fLog(**kwargs)
    second = VexoFuncoes.fLog(**kwargs)
    assert first is second is logging.getLogger(NULL_NAME)
    assert [type(h) for h in first.handlers] == [logging.NullHandler]
    assert first.propagate is False
    first.error("nada")
    assert capsys.readouterr() == ("", "")
    assert caplog.records == []
    assert cache() == {}
    assert not (home / "Logs").exists()


def test_silent_logger_is_named_after_the_calling_class_and_keeps_its_level(home):
    class Sub(VexoFuncoes):
        pass

    sub = Sub.fLog()
    assert sub.name == f"null_{id(Sub)}" != NULL_NAME
    lg = VexoFuncoes.fLog()
    lg.setLevel(logging.CRITICAL)
    try:
        assert VexoFuncoes.fLog().level == logging.CRITICAL
    finally:
        lg.setLevel(logging.NOTSET)


# ------------------------------------------------------------------ real logger


def test_file_logger_name_location_and_lines(home, capsys, caplog):
    lg = VexoFuncoes.fLog(
        pSiLog=2, pSiLogTipo=2, pSiLogPrefixo="VexoControleApex", pArqLogNome="MorvelPy_Dev.log"
    )
    assert lg.name == "ziveviver.vexofuncoes.VexoControleApex.MorvelPy_Dev.log"
    assert lg is logging.getLogger(lg.name)
    assert lg.propagate is False and lg.level == logging.DEBUG
    assert cache() == {lg.name: lg}
    lg.info("fCtPreencText -> Campo preenchido: #P1_AÇÃO")
    lg.debug("nunca escrito")
    lg.warning("aviso")
    lg.error("falha")
    before = datetime.datetime.now().replace(microsecond=0)
    found = [LINE.match(x) for x in lines(home / "Logs" / "MorvelPy_Dev.log")]
    assert all(found)
    assert [(m["prefix"], m["level"], m["msg"]) for m in found] == [
        ("VexoControleApex", "INFO", "fCtPreencText -> Campo preenchido: #P1_AÇÃO"),
        ("VexoControleApex", "WARNING", "aviso"),
        ("VexoControleApex", "ERROR", "falha"),
    ]
    stamp = datetime.datetime.strptime(found[0]["time"], "%Y-%m-%d %H:%M:%S")
    assert abs(stamp - before) < datetime.timedelta(minutes=1)
    assert capsys.readouterr() == ("", "")
    assert caplog.records == []


def test_empty_prefix(home):
    lg = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=2, pArqLogNome="x.log")
    assert lg.name == "ziveviver.vexofuncoes.no_prefix.x.log"
    lg.info("m")
    assert lines(home / "Logs" / "x.log")[0].startswith("[] [")


@pytest.mark.parametrize("prefix", ["100%", "a%(name)s", "%s %d %%", "%"])
def test_percent_in_prefix_is_written_as_given(home, prefix):
    lg = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=2, pSiLogPrefixo=prefix, pArqLogNome="p.log")
    assert lg.name == f"ziveviver.vexofuncoes.{prefix}.p.log"
    lg.info("linha com 50%")
    (line,) = lines(home / "Logs" / "p.log")
    m = LINE.match(line)
    assert m and m["prefix"] == prefix and m["msg"] == "linha com 50%"


@pytest.mark.parametrize(
    "tipo, console, file",
    [(0, False, False), (1, True, False), (2, False, True), (3, True, True), (7, False, False)],
)
def test_destinations(home, capsys, tipo, console, file):
    lg = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=tipo, pSiLogPrefixo="T", pArqLogNome="d.log")
    assert (home / "Logs").is_dir()
    assert cache()[lg.name] is lg
    assert all(h.level == logging.INFO for h in lg.handlers)
    lg.debug("depuracao")
    lg.info("informacao")
    err = capsys.readouterr().err.splitlines()
    if console:
        (m,) = [LINE.match(x) for x in err]
        assert (m["prefix"], m["level"], m["msg"]) == ("T", "INFO", "informacao")
    else:
        assert err == []
    path = home / "Logs" / "d.log"
    assert path.exists() == file
    if file:
        assert [LINE.match(x)["msg"] for x in lines(path)] == ["informacao"]
    assert len(lg.handlers) == console + file


def test_cached_logger_ignores_later_settings(home):
    first = VexoFuncoes.fLog(2, 2, "C", "c.log", 1000, 1)
    handlers = first.handlers[:]
    again = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=3, pSiLogPrefixo="C", pArqLogNome="c.log",
                             pArqLogMaxBytes=5, pArqLogQtd=9)
    assert again is first
    assert again.handlers == handlers
    assert (handlers[0].maxBytes, handlers[0].backupCount) == (1000, 1)
    other = VexoFuncoes.fLog(2, 2, "C", "outro.log")
    assert other is not first and set(cache()) == {first.name, other.name}
    assert VexoFuncoes.fLog(2, 2, "C", "c.log", pDebugDev=False).name == NULL_NAME


def test_rotation(home):
    lg = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=2, pSiLogPrefixo="R", pArqLogNome="r.log",
                          pArqLogMaxBytes=150, pArqLogQtd=2)
    sent = [f"mensagem numero {i:02d}" for i in range(12)]
    for m in sent:
        lg.info(m)
    logs = home / "Logs"
    assert sorted(p.name for p in logs.iterdir()) == ["r.log", "r.log.1", "r.log.2"]
    kept = []
    for name in ["r.log.2", "r.log.1", "r.log"]:
        assert (logs / name).stat().st_size <= 150
        kept += [LINE.match(x)["msg"] for x in lines(logs / name)]
    assert kept == sent[-len(kept):] and sent[-1] == kept[-1] and len(kept) < len(sent)


@pytest.mark.parametrize("frozen", [True, False])
def test_logs_beside_executable_when_frozen(home, tmp_path, monkeypatch, frozen):
    app = tmp_path / "app"
    app.mkdir()
    fake_sys = types.SimpleNamespace(executable=str(app / "prog.exe"), frozen=frozen)
    monkeypatch.setattr(vexofuncoes, "sys", fake_sys)
    VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=2, pSiLogPrefixo="F", pArqLogNome="f.log")
    assert (app / "Logs" / "f.log").exists() == frozen
    assert (home / "Logs" / "f.log").exists() != frozen


def test_logs_folder_that_cannot_be_made_raises_and_next_call_tries_again(home):
    (home / "Logs").write_text("no caminho")
    with pytest.raises(OSError):
        VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=3, pSiLogPrefixo="E", pArqLogNome="e.log")
    assert cache() == {}
    (home / "Logs").unlink()
    lg = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=3, pSiLogPrefixo="E", pArqLogNome="e.log")
    assert cache() == {lg.name: lg}
    assert [type(h) for h in lg.handlers] == [logging.StreamHandler, vexofuncoes.RotatingFileHandler]


def test_log_file_that_cannot_be_opened_raises_and_next_call_starts_clean(home):
    (home / "Logs" / "o.log").mkdir(parents=True)
    with pytest.raises(OSError):
        VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=3, pSiLogPrefixo="O", pArqLogNome="o.log")
    assert cache() == {}
    (home / "Logs" / "o.log").rmdir()
    lg = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=3, pSiLogPrefixo="O", pArqLogNome="o.log")
    assert [type(h) for h in lg.handlers] == [logging.StreamHandler, vexofuncoes.RotatingFileHandler]
    lg.info("ok")
    assert len(lines(home / "Logs" / "o.log")) == 1


# ------------------------------------------------------------------ binding and conversion


class Texto(str):
    pass


@pytest.mark.parametrize(
    "kwargs, real",
    [
        ({"pSiLog": 2.0}, True),
        ({"pSiLog": 2.9}, True),
        ({"pSiLog": decimal.Decimal("2.5")}, True),
        ({"pSiLog": True}, False),
        ({"pSiLog": 1.99}, False),
    ],
)
def test_numbers_are_taken_as_int(home, kwargs, real):
    lg = VexoFuncoes.fLog(pSiLogTipo=0, pSiLogPrefixo="N", **kwargs)
    assert (lg.name != NULL_NAME) == real


def test_file_limits_are_converted(home):
    lg = VexoFuncoes.fLog(2, 2.0, "L", "l.log", 150.7, True)
    (h,) = lg.handlers
    assert isinstance(h, vexofuncoes.RotatingFileHandler)
    assert (h.maxBytes, h.backupCount) == (150, 1)
    assert type(h.maxBytes) is int and type(h.backupCount) is int


@pytest.mark.parametrize(
    "args, kwargs, match",
    [
        ((), {"pSiLog": "2"}, "pSiLog"),
        ((), {"pSiLog": None}, "pSiLog"),
        ((2,), {"pSiLogTipo": b"2"}, "pSiLogTipo"),
        ((2, 2), {"pArqLogMaxBytes": "10"}, "pArqLogMaxBytes"),
        ((2, 2), {"pArqLogQtd": [1]}, "pArqLogQtd"),
        ((2, 2), {"pSiLogPrefixo": None}, "pSiLogPrefixo"),
        ((2, 2), {"pSiLogPrefixo": Texto("x")}, "pSiLogPrefixo"),
        ((2, 2, "P"), {"pArqLogNome": 1}, "pArqLogNome"),
        ((2, 2, "P"), {"pArqLogNome": None}, "pArqLogNome"),
        ((2, 2, "P"), {"pArqLogNome": Texto("a.log")}, "pArqLogNome"),
        ((2, 2, "P", "a.log", 1, 1, True, "extra"), {}, "positional"),
        ((2, 2), {"pSiLogTip": 2}, "unexpected keyword"),
        ((2, 2), {"pSiLog": 2}, "multiple values"),
    ],
)
def test_bad_arguments_raise_type_error_before_anything(home, args, kwargs, match):
    with pytest.raises(TypeError, match=match):
        VexoFuncoes.fLog(*args, **kwargs)
    assert not (home / "Logs").exists()
    assert cache() == {}
