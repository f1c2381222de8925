"""``ziveviver verificar``: the pre-flight check of a mapping and data (the demo's unless
--mapa/--dados) against a page (the demo form unless --url), printed as a table; exit status 1
when a finding is an error."""
import asyncio
import json
import pathlib

from . import browser as _browser
from . import frames as _frames
from .cli import command_parser
from .receipt import findings_table

DEMO = pathlib.Path(__file__).resolve().parents[1] / "demo"


def _load_json(path, what):
    try:
        return json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    except OSError as e:
        raise SystemExit(f"{what}: não foi possível ler {path}: {e.strerror}")
    except json.JSONDecodeError as e:
        raise SystemExit(f"{what}: {path} não é JSON válido ({e.msg}, linha {e.lineno})")


async def verificar(args):
    from playwright.async_api import async_playwright

    from ziveviver.vexoconferencia import fCtVerificarMapa
    from ziveviver.vexocontrole import VexoControleApex

    mapping = _load_json(args.mapa or DEMO / "mapa.json", "--mapa")
    data = _load_json(args.dados or DEMO / "dados.json", "--dados")
    url = args.url or (DEMO / "form.html").as_uri()
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=_browser.find_browser(args.navegador),
                                           headless=not args.headed, args=_browser.CHROMIUM_ARGS)
        page = await browser.new_page(viewport={"width": 1280, "height": 900})
        await page.goto(url)
        if args.url:
            await page.wait_for_load_state("load")
        else:
            await page.wait_for_function("window.__zv && window.__zv.ready === true")
        # A controller's construction sets the logging the check writes through.
        VexoControleApex(page, args.debug)
        form = await _frames.form_frame(page, mapping, data, args.quadro, "verificar")
        findings = await fCtVerificarMapa(form, mapping, data)
        await browser.close()
    print(findings_table(findings))
    return 1 if any(f["veredito"] == "erro" for f in findings) else 0


def run(args):
    return asyncio.run(verificar(args))


VERIFICAR_DOC = """\
Verifica, antes de preencher, se o mapa serve a página e os dados: cada seletor encontra um
só item, do tipo declarado, e os dados cabem nele. Sem --mapa/--dados/--url verifica a
demonstração.

estado de saída: 0 sem erros (pode haver avisos); 1 há pelo menos um erro."""


def add_parser(subparsers):
    v = command_parser(subparsers, "verificar", "verifica, antes de preencher, se o mapa serve a página e "
                       "os dados", VERIFICAR_DOC)
    v.add_argument("--mapa", metavar="MAPA.json", help="ficheiro JSON do mapa (por omissão, o da demonstração)")
    v.add_argument("--dados", metavar="DADOS.json",
                   help="ficheiro JSON dos dados (por omissão, os da demonstração)")
    v.add_argument("--url", help="endereço da página (por omissão, o formulário de demonstração)")
    _frames.add_option(v)
    v.add_argument("--headed", action="store_true", help="mostra o navegador")
    v.add_argument("--debug", action="store_true", help="escreve os achados no registo de depuração (Logs/)")
    v.add_argument("--navegador", metavar="CAMINHO", help="executável do Chromium")
    v.set_defaults(executar=run)
    return v
