"""Command line: ``python -m ziveviver demo`` fills the bundled stand-in APEX form.

The demo opens Chromium (headless unless --headed), fills the bundled form with the package's
whole-form fill from the bundled mapping and data, then reads every field back from the page
and prints, section by section, what the page holds. It saves a screenshot and exits non-zero
when any field did not land. With --headed it ends with the in-page notice and waits for the
user's click, as a real run would.
"""
import argparse
import asyncio
import json
import pathlib
import shutil
import sys

DEMO = pathlib.Path(__file__).resolve().parent / "demo"
CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run"]
SECTIONS = ("Representantes", "Titulares", "Beneficiarios")
BUTTON_KEYS = ("TitInserir", "TitGravar", "BenInserir", "BenGravar")

# Reads one item back the way its kind stores it: the APEX value, and for radio and check
# box groups the values of the options the data named by position.
READ_BACK = """([id, kind, pos]) => {
  const v = window.__zv ? __zv.value(id) : document.getElementById(id)?.value;
  if (kind === 'radio' || kind === 'checkboxmultiple') {
    const opt = document.getElementById(id + '_' + pos);
    return {value: v, want: opt ? opt.value : null};
  }
  return {value: v};
}"""


def find_browser(explicit=None):
    for cand in (explicit, "/usr/bin/chromium", shutil.which("chromium"), shutil.which("chromium-browser")):
        if cand and pathlib.Path(cand).exists():
            return cand
    sys.exit("Nenhum Chromium encontrado: instale o pacote 'chromium' ou use --navegador CAMINHO.")


def expected_matches(kind, value, got):
    kind = kind.lower()
    have = got["value"]
    if kind in ("radio", "checkboxmultiple"):
        want = got["want"]
        return want is not None and (want in have if isinstance(have, list) else have == want), want
    if kind == "multiselect":
        want = sorted(str(v) for v in value)
        return sorted(have or []) == want, want
    return have == str(value), str(value)


async def check_fields(page, mapping, data, label, rows):
    ok_all = True
    for col, cfg in mapping.items():
        if col in SECTIONS:
            break
        if col in BUTTON_KEYS:
            continue
        value = data.get(col)
        if value is None or str(value).strip() == "":
            continue
        item = cfg["WebSel"].replace("#", "")
        got = await page.evaluate(READ_BACK, [item, cfg["ColTipo"].lower(), str(value).strip()])
        ok, want = expected_matches(cfg["ColTipo"], value, got)
        ok_all &= ok
        rows.append((label, col, want, got["value"], ok))
    return ok_all


async def check_grid(page, mapping, records, saved_key, label, rows):
    saved = await page.evaluate(f"__zv.saved.{saved_key}")
    ok_all = len(saved) == len(records)
    rows.append((label, "linhas gravadas", len(records), len(saved), ok_all))
    for i, (record, row) in enumerate(zip(records, saved), 1):
        for col, cfg in mapping.items():
            if col in BUTTON_KEYS or record.get(col) in (None, ""):
                continue
            item = cfg["WebSel"].replace("#", "")
            have = row.get(item)
            want = str(record[col])
            if cfg["ColTipo"] == "checkboxmultiple":
                want = await page.evaluate("id => document.getElementById(id)?.value ?? null",
                                           f"{item}_{want.strip()}")
                ok = want is not None and isinstance(have, list) and want in have
            else:
                ok = have == want
            ok_all &= ok
            rows.append((f"{label} {i}", col, want, have, ok))
    return ok_all


async def demo(args):
    from playwright.async_api import async_playwright

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
        await controller.fCtPreencTodoForm(mapping, data)

        rows = []
        ok = await check_fields(page, mapping, data, "Formulário", rows)
        if data.get("RepAtivarPreenc") == 1 and "Representantes" in mapping:
            ok &= await check_fields(page, mapping["Representantes"], data.get("Representantes") or {},
                                     "Representante", rows)
        if "Titulares" in mapping:
            ok &= await check_grid(page, mapping["Titulares"], data.get("Titulares") or [],
                                   "titulares", "Titular", rows)
        if "Beneficiarios" in mapping:
            ok &= await check_grid(page, mapping["Beneficiarios"], data.get("Beneficiarios") or [],
                                   "beneficiarios", "Beneficiário", rows)
        section = None
        for label, col, want, have, good in rows:
            if label != section:
                print(f"\n[{label}]")
                section = label
            mark = "ok " if good else "FALHOU"
            print(f"  {mark} {col:<22} esperado={want!r:<28} na página={have!r}")
        landed = sum(1 for r in rows if r[4])
        print(f"\n{landed} de {len(rows)} verificações conferem.")
        out = pathlib.Path(args.saida)
        out.mkdir(parents=True, exist_ok=True)
        shot = out / "demo.png"
        await page.screenshot(path=str(shot), full_page=True)
        print(f"Captura de ecrã: {shot}")
        if args.headed:
            await controller.fCtPopUpHtml()
        await browser.close()
    return 0 if ok else 1


def main(argv=None):
    parser = argparse.ArgumentParser(prog="ziveviver", description="Preenchimento de formulários APEX")
    sub = parser.add_subparsers(dest="comando", required=True)
    d = sub.add_parser("demo", help="preenche o formulário de demonstração incluído")
    d.add_argument("--headed", action="store_true", help="mostra o navegador e termina com o aviso")
    d.add_argument("--debug", action="store_true", help="escreve o log de depuração em Logs/")
    d.add_argument("--saida", default="demo-out", help="pasta da captura de ecrã (demo-out)")
    d.add_argument("--navegador", help="caminho do executável do Chromium")
    args = parser.parse_args(argv)
    if args.comando == "demo":
        return asyncio.run(demo(args))
    return 2


if __name__ == "__main__":
    sys.exit(main())
