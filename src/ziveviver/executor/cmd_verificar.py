"""``ziveviver verificar``: the pre-flight check of a mapping and data (the demo's unless
--mapa/--dados) against a page (the demo form unless --url), printed as a table; exit status 1
when a finding is an error, 2 when an input cannot be used."""
import pathlib

from . import browser as _browser
from . import frames as _frames
from .cli import (BAD_INPUT, FAILED, INTERRUPTED, OK, InputError, browser_options, command_parser,
                  fail, reconfigure_output, report, run_guarded, say)
from .inputs import check_data, check_mapping, page_address, read_files, read_session
from .receipt import findings_table

DEMO = pathlib.Path(__file__).resolve().parents[1] / "demo"


async def verificar(args, mapping, data):
    from playwright.async_api import async_playwright

    from ziveviver.vexoconferencia import fCtVerificarMapa
    from ziveviver.vexocontrole import VexoControleApex

    async with async_playwright() as pw:
        opened = await _browser.open_page(pw, args, args.url or (DEMO / "form.html").as_uri(),
                                          not args.headed, "A verificar")
        try:
            page = opened.page
            if not args.url:
                await page.wait_for_function("window.__zv && window.__zv.ready === true")
            # A controller's construction sets the logging the check writes through.
            VexoControleApex(page, args.debug)
            form = await _frames.form_frame(page, mapping, data, args.quadro, "verificar")
            findings = await fCtVerificarMapa(form, mapping, data)
        finally:
            await opened.close()
    say(findings_table(findings))
    return FAILED if any(f["veredito"] == "erro" for f in findings) else OK


def _inputs(args):
    """The mapping and the data to check (the demo's unless named); InputError when a file
    cannot be read or is not an object at all (the check reports everything else)."""
    args.url = page_address(args.url)
    mapping, data = read_files(args.mapa or DEMO / "mapa.json", args.dados or DEMO / "dados.json")
    problems = []
    if not isinstance(mapping, dict):
        problems += check_mapping(mapping, f"mapa {args.mapa}")[0]
    if not isinstance(data, dict):
        problems += check_data(data, {}, f"dados {args.dados}")[0]
    if problems:
        raise InputError(problems)
    read_session(args)
    return mapping, data


def run(args):
    reconfigure_output()
    try:
        if args.tempo_limite <= 0:
            raise InputError(["--tempo-limite tem de ser maior que 0."])
        mapping, data = _inputs(args)
    except InputError as e:
        report(e)
        return BAD_INPUT

    def interrupted():
        fail("interrompido pelo utilizador.")
        return INTERRUPTED

    return run_guarded(verificar(args, mapping, data), interrupted)


VERIFICAR_DOC = """\
Verifica, antes de preencher, se o mapa serve a página e os dados: cada seletor encontra um
só item, do tipo declarado, e os dados cabem nele. Sem --mapa/--dados/--url verifica a
demonstração.

estado de saída: 0 sem erros (pode haver avisos); 1 há pelo menos um erro, ou a página não
se abriu; 2 argumentos ou ficheiros inválidos; 130 interrompido."""


def add_parser(subparsers):
    v = command_parser(subparsers, "verificar", "verifica, antes de preencher, se o mapa serve a página e "
                       "os dados", VERIFICAR_DOC)
    v.add_argument("--mapa", metavar="MAPA.json", help="ficheiro JSON do mapa (por omissão, o da demonstração)")
    v.add_argument("--dados", metavar="DADOS.json",
                   help="ficheiro JSON dos dados (por omissão, os da demonstração)")
    v.add_argument("--url", help="endereço da página, ou de um ficheiro local (por omissão, o formulário "
                                 "de demonstração)")
    v.add_argument("--estado", metavar="LOGIN.json", help="sessão guardada por 'ziveviver entrar'")
    _frames.add_option(v)
    v.add_argument("--headed", action="store_true", help="mostra o navegador")
    browser_options(v, headless=False)
    v.add_argument("--debug", action="store_true", help="escreve os achados no registo de depuração (Logs/)")
    v.set_defaults(executar=run)
    return v
