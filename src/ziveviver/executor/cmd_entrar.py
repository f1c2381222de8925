"""``ziveviver entrar``: opens a browser for the user to log in and saves the session
(Playwright's storage state) for later ``preencher --estado`` runs."""
import asyncio
import json
import os
import pathlib
import sys
import threading
import time

from . import browser as _browser
from .cli import (BAD_INPUT, INTERRUPTED, OK, InputError, browser_options, command_parser, fail,
                  reconfigure_output, report, require, run_guarded, say)
from .inputs import page_address

SNAPSHOT_EVERY_S = 1.0  # how often `entrar` copies the session while the user logs in


def _watch_stdin(loop, event):
    """Sets `event` when the user presses Enter (nothing when the input is closed)."""
    def read():
        try:
            line = sys.stdin.readline()
        except (OSError, ValueError):
            return
        if line:
            loop.call_soon_threadsafe(event.set)
    threading.Thread(target=read, daemon=True).start()


async def _entrar(args):
    from playwright.async_api import Error as PlaywrightError
    from playwright.async_api import async_playwright

    async with async_playwright() as pw:
        opened = await _browser.open_page(pw, args, args.url, headless=False)
        browser, page = opened.browser, opened.page
        context = page.context
        say(f"Inicie a sessão na janela do navegador. Quando terminar, carregue em Enter aqui para "
            f"guardar a sessão em {args.salvar} (fechar o navegador também a guarda).")
        snapshot = await context.storage_state()
        enter, closed = asyncio.Event(), asyncio.Event()
        _watch_stdin(asyncio.get_running_loop(), enter)
        browser.on("disconnected", lambda *_: closed.set())
        page.on("close", lambda *_: closed.set())
        deadline = time.monotonic() + args.espera
        while not enter.is_set() and not closed.is_set() and time.monotonic() < deadline:
            try:
                await asyncio.wait_for(enter.wait(), SNAPSHOT_EVERY_S)
            except asyncio.TimeoutError:
                pass
            if closed.is_set():
                break
            try:
                snapshot = await context.storage_state()
            except PlaywrightError:
                break  # closing: keep the last copy
        if not closed.is_set() and browser.is_connected():
            try:
                snapshot = await context.storage_state()
            except PlaywrightError:
                pass
        _write_private(args.salvar, json.dumps(snapshot, indent=2, ensure_ascii=False))
        cookies = len(snapshot.get("cookies", []))
        say(f"Sessão guardada em {args.salvar} ({cookies} cookies). Use-a com: ziveviver preencher "
            f"--estado {args.salvar} ...")
        if browser.is_connected():
            await browser.close()
        return OK


def _write_private(path, text):
    """Writes a file only its owner can read: it holds the session's cookies."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write(text + "\n")


def run(args):
    reconfigure_output()
    try:
        require(args, ("url", "--url"), ("salvar", "--salvar"))
        if args.espera <= 0 or args.tempo_limite <= 0:
            raise InputError(["--espera e --tempo-limite têm de ser maiores que 0."])
        args.url = page_address(args.url)
        target = pathlib.Path(args.salvar)
        if not target.parent.is_dir():
            raise InputError([f"a pasta de {args.salvar} não existe."])
    except InputError as e:
        report(e)
        return BAD_INPUT
    def interrupted():
        fail("interrompido pelo utilizador; a sessão não foi guardada.")
        return INTERRUPTED

    return run_guarded(_entrar(args), interrupted,
                       ((OSError, lambda e: f"não foi possível guardar {args.salvar}: {e.strerror or e}"),))


ENTRAR_DOC = """\
Abre o navegador na aplicação para iniciar a sessão à mão e guarda-a (cookies e
armazenamento local) para 'ziveviver preencher --estado'."""


def add_parser(subparsers):
    e = command_parser(subparsers, "entrar", "inicia a sessão à mão e guarda-a para --estado", ENTRAR_DOC)
    e.add_argument("--url", help="endereço da aplicação (página de login ou o formulário)")
    e.add_argument("--salvar", metavar="LOGIN.json", help="ficheiro onde guardar a sessão")
    browser_options(e, headless=False)
    e.add_argument("--espera", type=float, default=600.0, metavar="SEGUNDOS",
                   help="tempo máximo para iniciar a sessão (600)")
    e.set_defaults(executar=run)
    return e
