"""``ziveviver demo``: fills the bundled stand-in APEX form.

The demo opens Chromium (headless unless --headed), raises the never-submit guard, fills the
bundled form with the package's whole-form fill from the bundled mapping and data (under the
pacing --ritmo names, adaptive by default as for every command that fills; its progress as a
bar on a terminal, plain lines otherwise; it says how long the fill took and under which
pacing), lifts the guard (reporting any submission it held back), then prints the receipt of what the page holds, field by field
(``fCtConferirForm``), optionally writing it to --recibo FICHEIRO (.json or .csv), and with
--perfil where the time went. It saves a screenshot and exits non-zero when any field did not
land. With --headed it ends with the in-page notice and waits for the user's click, as a real
run would.
"""
import asyncio
import json
import pathlib

from . import browser as _browser
from . import receipt
from .cli import InputError, browser_options, command_parser, fail, say
from .fill import add_options as add_fill_options
from .fill import guarded_fill, pacing_words, say_held, say_profile, say_receipt
from .profile import check_path as check_profile_path

DEMO = pathlib.Path(__file__).resolve().parents[1] / "demo"


async def demo(args):
    from playwright.async_api import async_playwright

    mapping = json.loads((DEMO / "mapa.json").read_text(encoding="utf-8"))
    data = json.loads((DEMO / "dados.json").read_text(encoding="utf-8"))
    async with async_playwright() as pw:
        opened = await _browser.open_page(pw, args, (DEMO / "form.html").as_uri(), not args.headed)
        page = opened.page
        await page.wait_for_function("window.__zv && window.__zv.ready === true")
        print(f"A preencher o formulário de demonstração (ritmo {args.ritmo})...", flush=True)
        controllers = []
        filled = await guarded_fill(page, mapping, data, pacing=args.ritmo, debug=args.debug,
                                    perfil=args.perfil, controller_out=controllers)
        say(f"Preenchido em {filled.outcome.wall_ms / 1000:.1f} s, {pacing_words(args.ritmo)}.")
        say_held(filled.held)
        if filled.outcome.error:
            fail(filled.outcome.error)
        landed = await say_receipt(page, mapping, data, args.recibo)
        say_profile(filled, args.perfil)
        out = pathlib.Path(args.saida)
        out.mkdir(parents=True, exist_ok=True)
        shot = out / "demo.png"
        await page.screenshot(path=str(shot), full_page=True)
        print(f"Captura de ecrã: {shot}")
        if args.headed:
            await controllers[0].fCtPopUpHtml()
        await opened.close()
    return 0 if landed and not filled.outcome.error else 1


DEMO_DOC = """\
Preenche o formulário de demonstração incluído (uma imitação de uma página APEX) com o mapa
e os dados de exemplo, mostra o recibo do que ficou em cada campo e guarda uma captura de ecrã.
Preenche com o ritmo adaptativo (esperas pelo APEX pronto), salvo --ritmo literal (as pausas
fixas).

estado de saída: 0 todos os campos ficaram como os dados dizem; 1 algum não ficou."""


def add_parser(subparsers):
    d = command_parser(subparsers, "demo", "preenche o formulário de demonstração incluído", DEMO_DOC)
    d.add_argument("--headed", action="store_true", help="mostra o navegador e termina com o aviso")
    d.add_argument("--debug", action="store_true", help="escreve o registo de depuração (Logs/)")
    d.add_argument("--saida", default="demo-out", metavar="PASTA", help="pasta da captura de ecrã (demo-out)")
    browser_options(d, headless=False)
    d.add_argument("--recibo", metavar="FICHEIRO", help="grava o recibo do preenchimento (.json ou .csv)")
    add_fill_options(d)

    def run(args):
        try:
            if args.recibo:
                receipt.receipt_format(args.recibo)
            if args.perfil:
                check_profile_path(args.perfil)
        except ValueError as e:
            d.error(str(e))
        except InputError as e:
            d.error(e.problems[0])
        return asyncio.run(demo(args))

    d.set_defaults(executar=run)
    return d
