"""Shared by every test folder: log files go to a temporary folder, never into the package."""
import pytest


@pytest.fixture(autouse=True, scope="session")
def _logs_in_a_temporary_folder(tmp_path_factory):
    from ziveviver import vexofuncoes

    saved = vexofuncoes.__file__
    vexofuncoes.__file__ = str(tmp_path_factory.mktemp("pkg") / "vexofuncoes.so")
    yield
    vexofuncoes.__file__ = saved
