"""``ziveviver preencher``: checks the mapping and data files, opens (or attaches to) a
browser, loads the form and fills it with the controller's whole-form fill, then shows the
end-of-run notice and keeps the browser open for the user."""
import asyncio
import os
import pathlib
import shutil
import sys
import time

from . import browser as _browser
from . import frames as _frames
from .background_tabs import keep_drawn
from .cli import (BAD_INPUT, FAILED, INTERRUPTED, OK, InputError, browser_options, command_parser,
                  count, exc_text, fail, reconfigure_output, report, require, run_guarded, say, secs, warn)
from .evidence import Evidence, Trace
from .evidence import add_options as add_evidence_options
from .evidence import check_options as check_evidence_options
from .fill import add_options as add_fill_options
from .fill import guarded_fill, say_held, say_profile, say_receipt
from .inputs import load_inputs, page_address, read_session
from .profile import check_path as check_profile_path
from .progress import Plan
from .receipt import receipt_format

NOTICES = ("modal", "janela", "nenhum")


class _State:
    filled = False


async def _preencher(args, mapping, data, state):
    from playwright.async_api import async_playwright

    async with async_playwright() as pw:
        opened = await _browser.open_page(pw, args, args.url, args.headless)
        browser, page = opened.browser, opened.page
        if args.cdp:
            await keep_drawn(page)  # a tab the user is not looking at fills as fast
            hint = "Inicie a sessão nesse navegador e abra o formulário."
        else:
            hint = ("A sessão guardada pode ter expirado: volte a correr 'ziveviver entrar'."
                    if args.estado else
                    "Se a aplicação pede o login, use --estado (ver 'ziveviver entrar') ou --cdp.")
        form = await _frames.form_frame(page, mapping, data, args.quadro)
        await _browser.require_fields(form, mapping, data, hint, args.tempo_limite)

        started = time.monotonic()
        controllers = []
        trace = Trace(args.traco)
        await trace.start(page.context)
        kept = Evidence(args.evidencias, pathlib.Path(args.dados).stem) if args.evidencias else None
        if kept:
            kept.start(page)
        filled = await guarded_fill(form, mapping, data, pacing=args.ritmo, guard=not args.sem_guarda,
                                    debug=args.debug or bool(kept), perfil=args.perfil,
                                    controller_out=controllers)
        outcome = filled.outcome
        if args.debug:
            _say_log_file()
        say_held(filled.held)
        if page.is_closed() or not browser.is_connected():
            fail("o navegador (ou o separador do formulário) foi fechado durante o preenchimento.")
            return FAILED
        if outcome.error:
            say_profile(filled, args.perfil)
            if kept:
                await kept.keep(page, outcome, None)
            await trace.save()
            fail(outcome.error)
            return FAILED
        state.filled = True
        took = time.monotonic() - started
        if outcome.unsaved:
            rows = ", ".join(f"{label} linha {n}" for label, n in outcome.unsaved)
            say(f"Preenchimento terminado em {took:.0f} s, com linhas por gravar: {rows}.")
        else:
            say(f"Preenchimento concluído: {count(Plan(mapping, data).total, 'campo')} em {took:.0f} s.")
        rows = []
        landed = await say_receipt(form, mapping, data, args.recibo, rows)
        say_profile(filled, args.perfil)
        if kept:
            await kept.keep(page, outcome, rows)
        await trace.save()

        deadline = None if not args.cdp and not args.headless else time.monotonic() + args.espera
        await _notice(args, controllers[0], deadline)
        if not args.cdp:
            await _keep_open(browser, page, args.espera if deadline is None
                             else max(0.0, deadline - time.monotonic()))
        await opened.close(keep_tab=True)  # a tab opened in the user's browser stays for review
        return FAILED if outcome.unsaved or not landed else OK


def _say_log_file():
    from ziveviver import vexocontrole as vc

    for handler in getattr(vc.objfLog, "handlers", []):
        path = getattr(handler, "baseFilename", None)
        if path:
            say(f"Registo de depuração: {path}")


async def _notice(args, ctl, deadline):
    """The end-of-run notice. Without a person in front of a browser the runner started
    (--headless, --cdp) the wait for the in-page notice ends at `deadline`."""
    if args.aviso == "nenhum":
        return
    if args.aviso == "janela":
        from ziveviver import vexocontrole as vc

        say("A mostrar a janela de aviso...")
        missing = _no_desktop()
        if missing:
            warn(f"não foi possível mostrar a janela de aviso: {missing}; o formulário ficou preenchido.")
            return
        try:
            await vc.fCtPopUpWindows()
        except Exception as e:  # noqa: BLE001 - the fill is done; a missing notice is reported
            said = str(e).split("): ", 1)[1].strip() if "): " in str(e) else ""
            warn("não foi possível mostrar a janela de aviso: o programa que a mostra falhou"
                 f"{f' ({said})' if said else ''}; o formulário ficou preenchido.")
        return
    from playwright.async_api import Error as PlaywrightError

    say('Aviso mostrado na página: à espera que o utilizador carregue em "Enviar"...')
    try:
        if deadline is None:
            await ctl.fCtPopUpHtml()
        else:
            await asyncio.wait_for(ctl.fCtPopUpHtml(), max(0.0, deadline - time.monotonic()))
    except asyncio.TimeoutError:
        say("Ninguém fechou o aviso no tempo de --espera; o aviso fica na página.")
    except PlaywrightError as e:
        warn(f"não foi possível mostrar o aviso na página: {exc_text(e)}")


def _no_desktop():
    """Why the desktop message box cannot be shown here (None when it can be tried)."""
    if sys.platform == "win32":
        return None
    if not os.environ.get("DISPLAY") and not os.environ.get("WAYLAND_DISPLAY"):
        return "não há ambiente gráfico (nem DISPLAY nem WAYLAND_DISPLAY)"
    if not shutil.which("zenity") and not shutil.which("kdialog"):
        return "não está instalado o zenity nem o kdialog, que a mostram num ambiente gráfico Linux"
    return None


async def _keep_open(browser, page, seconds):
    if seconds <= 0 or not browser.is_connected() or page.is_closed():
        return
    closed = asyncio.Event()
    browser.on("disconnected", lambda *_: closed.set())
    page.on("close", lambda *_: closed.set())
    say(f"O navegador fica aberto até o fechar (no máximo {secs(seconds)}).")
    try:
        await asyncio.wait_for(closed.wait(), seconds)
        say("Navegador fechado.")
    except asyncio.TimeoutError:
        say("Tempo de espera esgotado; a fechar o navegador.")


def run(args):
    reconfigure_output()
    try:
        require(args, ("mapa", "--mapa"), ("dados", "--dados"))
        if not args.url and not args.cdp:
            raise InputError(["falta --url (o endereço do formulário)."])
        if args.cdp and (args.estado or args.navegador or args.canal or args.headless):
            raise InputError(["--cdp usa o navegador já aberto: não se combina com --estado, "
                              "--navegador, --canal nem --headless."])
        if args.espera < 0 or args.tempo_limite <= 0:
            raise InputError(["--espera não pode ser negativo e --tempo-limite tem de ser maior que 0."])
        if args.recibo:
            try:
                receipt_format(args.recibo)
            except ValueError as e:
                raise InputError([str(e)]) from None
        if args.perfil:
            check_profile_path(args.perfil)
        check_evidence_options(args.evidencias, args.traco)
        args.url = page_address(args.url)
        mapping, data, warnings = load_inputs(args.mapa, args.dados)
        read_session(args)
    except InputError as e:
        report(e)
        return BAD_INPUT
    for w in warnings:
        warn(w)
    state = _State()

    def interrupted():
        if state.filled:
            say("Terminado pelo utilizador.")
            return OK
        fail("interrompido pelo utilizador antes do fim do preenchimento.")
        return INTERRUPTED

    return run_guarded(_preencher(args, mapping, data, state), interrupted)


PREENCHER_DOC = """\
Abre o formulário e preenche-o a partir do mapa e dos dados; nunca o submete.

exemplos:
  ziveviver preencher --url https://apex.exemplo/ords/r/app/proposta \\
      --mapa mapa.json --dados dados.json --estado login.json
  ziveviver preencher --cdp http://127.0.0.1:9222 --mapa mapa.json --dados dados.json

Durante o preenchimento a página não pode submeter o formulário (--sem-guarda para o
permitir); no fim mostra o recibo do que ficou em cada campo, lido da página. Preenche com o
ritmo adaptativo (espera pelo APEX pronto, com as pausas fixas como recurso), salvo --ritmo
literal (só as pausas fixas).

estado de saída: 0 preenchimento completo; 1 falha (navegador, página, preenchimento, linha
de grelha por gravar, campo que não ficou como os dados dizem); 2 argumentos ou ficheiros
inválidos; 130 interrompido."""



def add_parser(subparsers):
    p = command_parser(subparsers, "preencher", "preenche um formulário APEX a partir de mapa e dados",
                       PREENCHER_DOC)
    p.add_argument("--url", help="endereço do formulário (ou de um ficheiro local)")
    p.add_argument("--mapa", metavar="MAPA.json", help="mapa: coluna dos dados -> item da página")
    p.add_argument("--dados", metavar="DADOS.json", help="dados do formulário")
    browser_options(p, headless=True)
    p.add_argument("--cdp", metavar="ENDEREÇO",
                   help="liga-se a um navegador já aberto (ex.: http://127.0.0.1:9222) e preenche o "
                        "separador de --url, ou o atual")
    p.add_argument("--estado", metavar="LOGIN.json", help="sessão guardada por 'ziveviver entrar'")
    _frames.add_option(p)
    p.add_argument("--aviso", choices=NOTICES, default="modal",
                   help="aviso no fim: modal na página (omissão), janela do ambiente gráfico, nenhum")
    p.add_argument("--espera", type=float, default=600.0, metavar="SEGUNDOS",
                   help="quanto tempo o navegador fica aberto depois do aviso (600)")
    p.add_argument("--recibo", metavar="FICHEIRO",
                   help="grava o recibo do que ficou na página (.json ou .csv)")
    add_fill_options(p)
    add_evidence_options(p)
    p.add_argument("--sem-guarda", action="store_true",
                   help="não retém as submissões da página durante o preenchimento")
    p.add_argument("--debug", action="store_true", help="escreve o registo de depuração (Logs/)")
    p.set_defaults(executar=run)
    return p
