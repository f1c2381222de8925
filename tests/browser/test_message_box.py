"""The desktop message box for real: a virtual X display (Xvfb), the desktop's dialog program,
and xdotool (or a window manager's close request) playing the user."""
import asyncio
import ctypes
import ctypes.util
import logging
import os
import pathlib
import select
import shutil
import subprocess
import threading
import uuid

import pytest

from ziveviver import vexocontrole as vc

pytestmark = pytest.mark.skipif(shutil.which("Xvfb") is None, reason="Xvfb is not installed")

CLOSED_LINE = "fCtPopUpWindows -> Usuario fechou janela. Continuar execucao..."
GUARD = 30  # seconds; a guard against a hang, not a measurement


@pytest.fixture
def display(monkeypatch):
    """A fresh Xvfb server (it picks a free display number); DISPLAY points at it."""
    rd, wr = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(wr), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
        pass_fds=[wr], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(wr)
    # the server writes the number, then a newline, once it accepts connections; the
    # pipe stays open until the newline is in (a closed pipe is fatal to the server)
    got = b""
    try:
        while not got.endswith(b"\n"):
            ready, _, _ = select.select([rd], [], [], GUARD)
            chunk = os.read(rd, 64) if ready else b""
            if not chunk:
                break
            got += chunk
    finally:
        os.close(rd)
    number = got.decode().strip() if got.endswith(b"\n") else ""
    if not number:
        server.kill()
        server.wait()
        pytest.fail("Xvfb did not start")
    name = ":" + number
    monkeypatch.setenv("DISPLAY", name)
    monkeypatch.delenv("WAYLAND_DISPLAY", raising=False)
    yield name
    server.terminate()
    server.wait(GUARD)


@pytest.fixture
def filelog(tmp_path):
    """Debug on, with a real file logger in the module's place; gives the file's messages."""
    saved = vc.gDebugDev, vc.objfLog
    path = tmp_path / "box.log"
    logger = logging.getLogger("zv-box-" + uuid.uuid4().hex)
    logger.setLevel(logging.INFO)
    logger.propagate = False
    handler = logging.FileHandler(path, encoding="utf-8")
    handler.setFormatter(logging.Formatter("[%(levelname)s] %(message)s"))
    logger.addHandler(handler)
    vc.gDebugDev, vc.objfLog = True, logger

    def lines():
        handler.flush()
        return path.read_text(encoding="utf-8").splitlines() if path.exists() else []

    yield lines
    logger.removeHandler(handler)
    handler.close()
    vc.gDebugDev, vc.objfLog = saved


def in_thread():
    """Awaits the notice on an event loop of its own thread (the box holds that thread)."""
    outcome = {}

    def target():
        try:
            outcome["result"] = asyncio.run(vc.fCtPopUpWindows())
        except BaseException as exc:  # reported to the test
            outcome["error"] = exc

    thread = threading.Thread(target=target, daemon=True)
    thread.start()
    return thread, outcome


def xdotool(*args):
    done = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=GUARD)
    assert done.returncode == 0, done.stderr
    return done.stdout.split()


def press_ok(window):
    # no window manager runs here: give the box the keyboard focus directly
    xdotool("windowfocus", "--sync", window, "key", "Return")


def close_from_window_manager(window):
    """What a window manager does for the title bar's close button: WM_DELETE_WINDOW."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("l", ctypes.c_long * 5)]

    class XEvent(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(None)
    assert dpy
    try:
        ev = XEvent()
        ev.xclient.type = 33  # ClientMessage
        ev.xclient.window = int(window)
        ev.xclient.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        ev.xclient.format = 32
        ev.xclient.l[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        assert x11.XSendEvent(dpy, int(window), 0, 0, ctypes.byref(ev))
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)


@pytest.mark.parametrize("answer", [press_ok, close_from_window_manager], ids=["ok", "close"])
def test_box_holds_the_caller_until_the_user_answers(display, filelog, answer):
    thread, outcome = in_thread()
    try:
        windows = xdotool("search", "--sync", "--onlyvisible", "--name", "^Finalizado$")
        assert windows
        # the box is up: the caller is still held and nothing is logged yet
        assert thread.is_alive()
        assert filelog() == []
        text = subprocess.run(["xdotool", "getwindowname", windows[0]], capture_output=True,
                              text=True, timeout=GUARD).stdout.strip()
        assert text == "Finalizado"
        answer(windows[0])
    finally:
        thread.join(GUARD)
    assert not thread.is_alive()
    assert outcome == {"result": None}
    assert filelog() == ["[INFO] " + CLOSED_LINE]


def _unused_display():
    for n in range(600, 700):
        if not (pathlib.Path("/tmp/.X11-unix/X%d" % n).exists()
                or pathlib.Path("/tmp/.X%d-lock" % n).exists()):
            return ":%d" % n
    pytest.skip("no unused display number")


def test_unreachable_display_is_an_error_not_an_answer(filelog, monkeypatch):
    if shutil.which("zenity") is None:
        pytest.fail("zenity is not installed (scripts/bootstrap.sh installs it)")
    monkeypatch.setenv("DISPLAY", _unused_display())
    thread, outcome = in_thread()
    thread.join(GUARD)
    assert not thread.is_alive()
    assert isinstance(outcome.get("error"), RuntimeError)
    assert "zenity terminou com codigo 1" in str(outcome["error"])
    assert filelog() == []
