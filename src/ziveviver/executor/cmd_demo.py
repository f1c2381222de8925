"""``ziveviver demo``: fills the bundled stand-in APEX form.

The demo opens Chromium (headless unless --headed), raises the never-submit guard, fills the
bundled form with the package's whole-form fill from the bundled mapping and data, lifts the
guard (reporting any submission it held back), then prints the receipt of what the page holds,
field by field (``fCtConferirForm``), optionally writing it to --recibo FICHEIRO (.json or
.csv). It saves a screenshot and exits non-zero when any field did not land. With --headed it
ends with the in-page notice and waits for the user's click, as a real run would.
"""
import asyncio
import json
import pathlib

from . import browser as _browser
from . import receipt

DEMO = pathlib.Path(__file__).resolve().parents[1] / "demo"


async def demo(args):
    from playwright.async_api import async_playwright

    from ziveviver.vexoconferencia import fCtAtivarGuarda, fCtConferirForm, fCtDesativarGuarda
    from ziveviver.vexocontrole import VexoControleApex

    mapping = json.loads((DEMO / "mapa.json").read_text(encoding="utf-8"))
    data = json.loads((DEMO / "dados.json").read_text(encoding="utf-8"))
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=_browser.find_browser(args.navegador),
                                           headless=not args.headed, args=_browser.CHROMIUM_ARGS)
        page = await browser.new_page(viewport={"width": 1280, "height": 900})
        await page.goto((DEMO / "form.html").as_uri())
        await page.wait_for_function("window.__zv && window.__zv.ready === true")
        controller = VexoControleApex(page, args.debug)
        print("A preencher o formulário de demonstração...", flush=True)
        await fCtAtivarGuarda(page)
        try:
            await controller.fCtPreencTodoForm(mapping, data)
        finally:
            held = await fCtDesativarGuarda(page)
        for line in receipt.held_lines(held):
            print(line)

        rows = await fCtConferirForm(page, mapping, data)
        print(receipt.receipt_table(rows))
        if args.recibo:
            receipt.write_receipt(rows, args.recibo)
            print(f"Recibo gravado em {args.recibo}")
        out = pathlib.Path(args.saida)
        out.mkdir(parents=True, exist_ok=True)
        shot = out / "demo.png"
        await page.screenshot(path=str(shot), full_page=True)
        print(f"Captura de ecrã: {shot}")
        if args.headed:
            await controller.fCtPopUpHtml()
        await browser.close()
    return 1 if receipt.receipt_failed(rows) else 0


def add_parser(subparsers):
    d = subparsers.add_parser("demo", help="preenche o formulário de demonstração incluído")
    d.add_argument("--headed", action="store_true", help="mostra o navegador e termina com o aviso")
    d.add_argument("--debug", action="store_true", help="escreve o log de depuração em Logs/")
    d.add_argument("--saida", default="demo-out", help="pasta da captura de ecrã (demo-out)")
    d.add_argument("--navegador", help="caminho do executável do Chromium")
    d.add_argument("--recibo", metavar="FICHEIRO", help="grava o recibo do preenchimento (.json ou .csv)")

    def run(args):
        if args.recibo:
            try:
                receipt.receipt_format(args.recibo)
            except ValueError as e:
                d.error(str(e))
        return asyncio.run(demo(args))

    d.set_defaults(executar=run)
    return d
