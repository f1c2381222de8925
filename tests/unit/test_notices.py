"""The end-of-run notices with recorded stand-ins: the Windows box through a fake ctypes,
the desktop box through fake dialog programs on PATH, and the overlay's page steps."""
import asyncio
import os
import stat
import types

import pytest

from fakepage import FakePage, RecordingLogger

BOX_TEXT = "Execucao terminada. Tecle em OK ou feche esta janela."
BOX_CAPTION = "Finalizado"
CLOSED_LINE = "fCtPopUpWindows -> Usuario fechou janela. Continuar execucao..."
INJECT_LINE = "fCtPopUpHtml -> Injetar modal na pagina..."
WAIT_ERROR = "fCtPopUpHtml -> Erro ou navegador fechado durante modal: "


class FakeCtypes:
    """Stands for ctypes on Windows: windll.user32.MessageBoxW records each call together
    with the log lines written before it."""

    def __init__(self, logger, result=1, raises=None):
        self.calls = []

        def message_box(*args):
            self.calls.append((args, list(logger.lines) if logger else None))
            if raises is not None:
                raise raises
            return result

        self.windll = types.SimpleNamespace(user32=types.SimpleNamespace(MessageBoxW=message_box))


@pytest.fixture
def windows(vc):
    vc.sys = types.SimpleNamespace(platform="win32")
    return vc


@pytest.fixture
def quiet(vc):
    """Debug off, with a recording logger in place to show that nothing is written."""
    lg = RecordingLogger()
    vc.gDebugDev = False
    vc.objfLog = lg
    return lg


# --- Windows -----------------------------------------------------------------------------

@pytest.mark.parametrize("debug", [True, False])
def test_windows_box_call_and_closing_line(windows, run, debug):
    lg = RecordingLogger()
    windows.objfLog = lg
    windows.gDebugDev = debug
    coro = windows.fCtPopUpWindows()
    # ctypes is looked up when the coroutine runs, not when it is made
    fake = FakeCtypes(lg, result=2)
    windows.ctypes = fake
    assert run(coro) is None
    assert fake.calls == [((0, BOX_TEXT, BOX_CAPTION, 0), [])]
    assert lg.lines == ([("info", CLOSED_LINE)] if debug else [])


def test_windows_box_failure_reaches_caller_without_line(windows, log, run):
    windows.ctypes = FakeCtypes(log, raises=OSError("user32 indisponivel"))
    with pytest.raises(OSError, match="user32 indisponivel"):
        run(windows.fCtPopUpWindows())
    assert log.lines == []


def test_windows_path_without_windll_fails_before_any_box(windows, log, run):
    windows.ctypes = types.SimpleNamespace()
    with pytest.raises(AttributeError, match="windll"):
        run(windows.fCtPopUpWindows())
    assert log.lines == []


def test_platform_is_read_at_call_time(vc, log, run):
    fake = FakeCtypes(log)
    vc.ctypes = fake
    vc.sys = types.SimpleNamespace(platform="linux")
    coro = vc.fCtPopUpWindows()
    vc.sys = types.SimpleNamespace(platform="win32")
    run(coro)
    assert len(fake.calls) == 1


# --- other desktops ----------------------------------------------------------------------

FAKE_DIALOG = """#!/bin/sh
{{ echo "$0"; printf '%s\\n' "$@"; echo "ZENITY_ESC=$ZENITY_ESC"; }} > "{out}"
echo "{err}" >&2
exit {code}
"""


@pytest.fixture
def desktop(vc, monkeypatch, tmp_path):
    """A non-Windows host with a display and a PATH holding only the fake programs that
    the test installs with `install(name, code=0, err="")`; each writes its argv to
    <tmp>/<name>.out."""
    vc.sys = types.SimpleNamespace(platform="linux")
    bindir = tmp_path / "bin"
    bindir.mkdir()
    monkeypatch.setenv("PATH", str(bindir))
    monkeypatch.setenv("DISPLAY", ":42")
    monkeypatch.delenv("WAYLAND_DISPLAY", raising=False)

    def install(name, code=0, err=""):
        out = tmp_path / (name + ".out")
        prog = bindir / name
        prog.write_text(FAKE_DIALOG.format(out=out, code=code, err=err))
        prog.chmod(prog.stat().st_mode | stat.S_IXUSR)
        return out

    return types.SimpleNamespace(vc=vc, install=install, bindir=bindir)


def _argv(out):
    lines = out.read_text().splitlines()
    return os.path.basename(lines[0]), lines[1:]


@pytest.mark.parametrize(
    "installed, used, args",
    [
        (["zenity"], "zenity",
         ["--info", "--no-markup", "--title=" + BOX_CAPTION, "--text=" + BOX_TEXT]),
        (["kdialog"], "kdialog", ["--title", BOX_CAPTION, "--msgbox", BOX_TEXT]),
        (["kdialog", "zenity"], "zenity",
         ["--info", "--no-markup", "--title=" + BOX_CAPTION, "--text=" + BOX_TEXT]),
    ],
)
def test_desktop_box_runs_dialog_program(desktop, log, run, installed, used, args):
    outs = {name: desktop.install(name) for name in installed}
    assert run(desktop.vc.fCtPopUpWindows()) is None
    prog, argv = _argv(outs[used])
    assert prog == used
    # a close from the window manager must count as the user's answer, not as a failure
    assert argv == args + ["ZENITY_ESC=0"]
    assert all(not o.exists() for n, o in outs.items() if n != used)
    assert log.lines == [("info", CLOSED_LINE)]


def test_desktop_box_on_wayland_only(desktop, log, run, monkeypatch):
    monkeypatch.delenv("DISPLAY")
    monkeypatch.setenv("WAYLAND_DISPLAY", "wayland-0")
    out = desktop.install("zenity")
    run(desktop.vc.fCtPopUpWindows())
    assert out.exists()
    assert log.messages() == [CLOSED_LINE]


@pytest.mark.parametrize("display, wayland", [(None, None), ("", ""), ("", None)])
def test_no_display_is_a_clear_error(desktop, log, run, monkeypatch, display, wayland):
    for var, value in (("DISPLAY", display), ("WAYLAND_DISPLAY", wayland)):
        if value is None:
            monkeypatch.delenv(var, raising=False)
        else:
            monkeypatch.setenv(var, value)
    out = desktop.install("zenity")
    with pytest.raises(RuntimeError, match="Nenhum ambiente grafico disponivel"):
        run(desktop.vc.fCtPopUpWindows())
    assert not out.exists()
    assert log.lines == []


def test_no_dialog_program_is_a_clear_error(desktop, log, run):
    with pytest.raises(RuntimeError, match=r"Nenhum programa de dialogo instalado \(zenity ou kdialog\)"):
        run(desktop.vc.fCtPopUpWindows())
    assert log.lines == []


def test_failing_dialog_program_is_an_error(desktop, log, run):
    desktop.install("zenity", code=1, err="cannot open display: :42")
    with pytest.raises(RuntimeError) as info:
        run(desktop.vc.fCtPopUpWindows())
    assert "zenity terminou com codigo 1" in str(info.value)
    assert "cannot open display: :42" in str(info.value)
    assert log.lines == []


# --- overlay steps -----------------------------------------------------------------------

def _wait_calls(page):
    return page.calls("wait_for_selector")


def test_overlay_is_shown_then_awaited_without_limit(vc, log, page, run):
    msg = "`${alert(1)}` </script> \"x\" 'y'"
    assert run(vc.fCtPopUpHtml(page, msg, "Fechar")) is None
    assert page.names() == ["evaluate", "wait_for_selector"]
    (_, ev), = page.calls("evaluate")
    # the texts are the script's argument; the script's source does not depend on them
    assert ev["args"] == ([msg, "Fechar"],)
    assert msg not in ev["script"]
    assert _wait_calls(page) == [("#final-modal-overlay", {"state": "hidden", "timeout": 0})]
    assert log.lines == [("info", INJECT_LINE)]

    other = FakePage()
    run(vc.fCtPopUpHtml(other, "outra", "Sair"))
    assert other.calls("evaluate")[0][1]["script"] == ev["script"]


@pytest.mark.parametrize(
    "args, sent",
    [
        ((None, None), ["None", "None"]),
        ((0, 12.5), ["0", "12.5"]),
        (("", "Enviar"), [None, "Enviar"]),
        (("Oi", ""), ["Oi", "Enviar"]),
        (("  ", " "), ["  ", " "]),
    ],
)
def test_texts_sent_in_their_text_form(vc, quiet, page, run, args, sent):
    run(vc.fCtPopUpHtml(page, *args))
    msg, caption = page.calls("evaluate")[0][1]["args"][0]
    if sent[0] is None:
        assert msg.startswith("O formulário Dera foi pré-preenchido")
    else:
        assert msg == sent[0]
    assert caption == sent[1]
    assert quiet.lines == []


def test_wait_failure_is_logged_whatever_the_flag(vc, quiet, page, run):
    page.on("wait_for_selector", raises=RuntimeError("Target page, context or browser has been closed"))
    assert run(vc.fCtPopUpHtml(page)) is None
    assert quiet.lines == [
        ("error", WAIT_ERROR + "Target page, context or browser has been closed")
    ]


def test_overlay_script_failure_reaches_caller(vc, log, page, run):
    page.on("evaluate", raises=RuntimeError("page closed"))
    with pytest.raises(RuntimeError, match="page closed"):
        run(vc.fCtPopUpHtml(page, "x"))
    assert page.names() == ["evaluate"]
    assert log.lines == [("info", INJECT_LINE)]


def test_cancellation_during_the_wait_is_not_swallowed(vc, log, run):
    async def scenario():
        page = FakePage()
        gate = asyncio.Event()

        async def wait_for_selector(selector, **kw):
            page.ops.append(("wait_for_selector", selector, kw))
            await gate.wait()

        page.wait_for_selector = wait_for_selector
        task = asyncio.ensure_future(vc.fCtPopUpHtml(page, "x"))
        while not page.calls("wait_for_selector"):
            await asyncio.sleep(0)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    run(scenario())
    assert log.messages("error") == []
