"""Command line: ``python -m ziveviver demo`` fills the bundled stand-in APEX form.

The demo opens Chromium (headless unless --headed), raises the never-submit guard, fills the
bundled form with the package's whole-form fill from the bundled mapping and data, lifts the
guard (reporting any submission it held back), then prints the receipt of what the page holds,
field by field (``fCtConferirForm``), optionally writing it to --recibo FICHEIRO (.json or
.csv). It saves a screenshot and exits non-zero when any field did not land. With --headed it
ends with the in-page notice and waits for the user's click, as a real run would.

``python -m ziveviver verificar`` runs the pre-flight check of a mapping (the demo's, or
--mapa/--dados) against the demo form (or --url) and exits non-zero when a finding is an error.
"""
import argparse
import asyncio
import json
import pathlib
import shutil
import sys

from ziveviver import _conferencia, _runner
from ziveviver._lote import command as _lote

DEMO = pathlib.Path(__file__).resolve().parent / "demo"
CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run"]


def find_browser(explicit=None):
    for cand in (explicit, "/usr/bin/chromium", shutil.which("chromium"), shutil.which("chromium-browser")):
        if cand and pathlib.Path(cand).exists():
            return cand
    sys.exit("Nenhum Chromium encontrado: instale o pacote 'chromium' ou use --navegador CAMINHO.")


async def demo(args):
    from playwright.async_api import async_playwright

    from ziveviver.vexoconferencia import fCtAtivarGuarda, fCtConferirForm, fCtDesativarGuarda
    from ziveviver.vexocontrole import VexoControleApex

    mapping = json.loads((DEMO / "mapa.json").read_text(encoding="utf-8"))
    data = json.loads((DEMO / "dados.json").read_text(encoding="utf-8"))
    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=find_browser(args.navegador),
                                           headless=not args.headed, args=CHROMIUM_ARGS)
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
        for line in _conferencia.held_lines(held):
            print(line)

        rows = await fCtConferirForm(page, mapping, data)
        print(_conferencia.receipt_table(rows))
        if args.recibo:
            _conferencia.write_receipt(rows, args.recibo)
            print(f"Recibo gravado em {args.recibo}")
        out = pathlib.Path(args.saida)
        out.mkdir(parents=True, exist_ok=True)
        shot = out / "demo.png"
        await page.screenshot(path=str(shot), full_page=True)
        print(f"Captura de ecrã: {shot}")
        if args.headed:
            await controller.fCtPopUpHtml()
        await browser.close()
    return 1 if _conferencia.receipt_failed(rows) else 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="ziveviver", description="Preenchimento de formulários APEX")
    sub = parser.add_subparsers(dest="comando", required=True)
    d = sub.add_parser("demo", help="preenche o formulário de demonstração incluído")
    d.add_argument("--headed", action="store_true", help="mostra o navegador e termina com o aviso")
    d.add_argument("--debug", action="store_true", help="escreve o log de depuração em Logs/")
    d.add_argument("--saida", default="demo-out", help="pasta da captura de ecrã (demo-out)")
    d.add_argument("--navegador", help="caminho do executável do Chromium")
    d.add_argument("--recibo", metavar="FICHEIRO", help="grava o recibo do preenchimento (.json ou .csv)")
    _conferencia.add_verificar(sub)
    _runner.add_commands(sub)
    _lote.add_command(sub)
    args = parser.parse_args(argv)
    if getattr(args, "executar", None):
        return args.executar(args)
    if args.comando == "demo":
        if args.recibo:
            try:
                _conferencia.receipt_format(args.recibo)
            except ValueError as e:
                parser.error(str(e))
        return asyncio.run(demo(args))
    if args.comando == "verificar":
        return asyncio.run(_conferencia.verificar(args, find_browser, CHROMIUM_ARGS))
    return 2


if __name__ == "__main__":
    sys.exit(main())
