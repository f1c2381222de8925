"""``ziveviver preencher``: checks the mapping and data files, opens (or attaches to) a
browser, loads the form and fills it with the controller's whole-form fill, then shows the
end-of-run notice and keeps the browser open for the user."""
import asyncio
import time

from . import browser as _browser
from .background_tabs import keep_drawn
from .cli import (BAD_INPUT, FAILED, INTERRUPTED, OK, InputError, browser_options, command_parser,
                  exc_text, fail, reconfigure_output, report, require, run_guarded, say, secs, warn)
from .fill import add_options as add_fill_options
from .fill import guarded_fill, say_held, say_profile, say_receipt
from .inputs import load_inputs, load_storage_state
from .profile import check_path as check_profile_path
from .progress import Plan
from .receipt import receipt_format

NOTICES = ("modal", "janela", "nenhum")


class _State:
    filled = False


async def _preencher(args, mapping, data, state):
    from playwright.async_api import async_playwright

    url = _browser.url_of(args.url) if args.url else None
    async with async_playwright() as pw:
        browser = None
        if args.cdp:
            browser = await _browser.attach(pw, args)
            page = await _browser.pick_tab(browser, url, args.tempo_limite)
            await keep_drawn(page)  # a tab the user is not looking at fills as fast
            hint = "Inicie a sessão nesse navegador e abra o formulário."
        else:
            browser = await _browser.launch(pw, args, args.headless)
            options = {"viewport": {"width": 1280, "height": 900}} if args.headless else {"no_viewport": True}
            if args.estado:
                options["storage_state"] = args.estado_dados
            context = await browser.new_context(**options)
            page = await context.new_page()
            await _browser.goto(page, url, args.tempo_limite)
            hint = ("A sessão guardada pode ter expirado: volte a correr 'ziveviver entrar'."
                    if args.estado else
                    "Se a aplicação pede o login, use --estado (ver 'ziveviver entrar') ou --cdp.")
        await _browser.require_fields(page, mapping, data, hint, args.tempo_limite)

        started = time.monotonic()
        controllers = []
        filled = await guarded_fill(page, mapping, data, pacing=args.ritmo, guard=not args.sem_guarda,
                                    debug=args.debug, perfil=args.perfil, controller_out=controllers)
        outcome = filled.outcome
        if args.debug:
            _say_log_file()
        say_held(filled.held)
        if page.is_closed() or not browser.is_connected():
            fail("o navegador (ou o separador do formulário) foi fechado durante o preenchimento.")
            return FAILED
        if outcome.error:
            say_profile(filled, args.perfil)
            fail(outcome.error)
            return FAILED
        state.filled = True
        took = time.monotonic() - started
        if outcome.unsaved:
            rows = ", ".join(f"{label} linha {n}" for label, n in outcome.unsaved)
            say(f"Preenchimento terminado em {took:.0f} s, com linhas por gravar: {rows}.")
        else:
            say(f"Preenchimento concluído: {Plan(mapping, data).total} campos em {took:.0f} s.")
        landed = await say_receipt(page, mapping, data, args.recibo)
        say_profile(filled, args.perfil)

        deadline = None if not args.cdp and not args.headless else time.monotonic() + args.espera
        await _notice(args, controllers[0], deadline)
        if not args.cdp:
            await _keep_open(browser, page, args.espera if deadline is None
                             else max(0.0, deadline - time.monotonic()))
            if browser.is_connected():
                await browser.close()
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
        try:
            await vc.fCtPopUpWindows()
        except Exception as e:  # noqa: BLE001 - the fill is done; a missing notice is reported
            warn(f"não foi possível mostrar a janela de aviso: {e}")
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
        mapping, data, warnings = load_inputs(args.mapa, args.dados)
        args.estado_dados = load_storage_state(args.estado) if args.estado else None
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
permitir); no fim mostra o recibo do que ficou em cada campo, lido da página.

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
    p.add_argument("--aviso", choices=NOTICES, default="modal",
                   help="aviso no fim: modal na página (omissão), janela do ambiente gráfico, nenhum")
    p.add_argument("--espera", type=float, default=600.0, metavar="SEGUNDOS",
                   help="quanto tempo o navegador fica aberto depois do aviso (600)")
    p.add_argument("--recibo", metavar="FICHEIRO",
                   help="grava o recibo do que ficou na página (.json ou .csv)")
    add_fill_options(p)
    p.add_argument("--sem-guarda", action="store_true",
                   help="não retém as submissões da página durante o preenchimento")
    p.add_argument("--debug", action="store_true", help="escreve o registo de depuração (Logs/)")
    p.set_defaults(executar=run)
    return p
