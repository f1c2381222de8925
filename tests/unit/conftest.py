import asyncio
import sys
import pathlib

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from fakepage import FakePage, RecordingLogger  # noqa: E402
from ziveviver import vexocontrole  # noqa: E402


@pytest.fixture
def vc():
    """The module, with its state restored after the test."""
    saved = {k: getattr(vexocontrole, k) for k in vars(vexocontrole) if not k.startswith("__")}
    yield vexocontrole
    for k, v in saved.items():
        setattr(vexocontrole, k, v)


@pytest.fixture
def log(vc):
    """Debug on, with a recording logger in the module's place."""
    lg = RecordingLogger()
    vc.gDebugDev = True
    vc.objfLog = lg
    return lg


@pytest.fixture
def page():
    return FakePage()


@pytest.fixture
def run():
    return asyncio.run


@pytest.fixture
def no_sleep(vc, monkeypatch):
    """Replaces the module's asyncio with one whose sleep only records its delays."""
    import types

    delays = []

    async def sleep(d):
        delays.append(d)

    fake = types.SimpleNamespace(sleep=sleep)
    vc.asyncio = fake
    return delays
