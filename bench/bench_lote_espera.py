"""Benchmark (not a test): how long the operator of ``ziveviver lote`` waits for the next record.

A Chromium is started as a user starts it, with a debugging port (headless, or headed on a
virtual X display with --headed), and ``lote --cdp`` fills the stand-in form's records in it,
under each pacing and with each number of tabs. This script plays the operator: it waits
for the tab that lote brings to the front, reviews it for --revisao seconds and submits it
with the form's own button. Each record fills six fields, three of them by clicks, or with
--formulario demo the whole demonstration form (its mapping and data, a name per record).

Printed, per pacing and number of tabs: the operator's wait for each record after the first
(``operador_esperou_s`` of the status file: from a submit until the next form is in front),
its median and its largest, and the fill times (``preenchimento_s``), median and largest.

    .venv/bin/python bench/bench_lote_espera.py [--abas 2,3] [--ritmos literal,adaptativo]
        [--revisao 8] [--registos 6] [--formulario seis|demo] [--headed]

Run with PYTHONPATH naming a copy of an earlier build of the package to measure that build.
"""
import argparse
import asyncio
import json
import os
import pathlib
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from playwright.async_api import async_playwright

ROOT = pathlib.Path(__file__).resolve().parents[1]
DEMO = ROOT / "src" / "ziveviver" / "demo"
FORM_URL = (DEMO / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
PACINGS = ("literal", "adaptativo")
MAPA = {"NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
        "CIDADE": {"WebSel": "#P1_CIDADE", "ColTipo": "autocomplete"},
        "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},
        "SEXO": {"WebSel": "#P1_SEXO", "ColTipo": "radio"},
        "CANAL": {"WebSel": "#P1_CANAIS", "ColTipo": "checkboxmultiple"},
        "OBS": {"WebSel": "#P1_OBS", "ColTipo": "textarea"}}
BANNER = "() => { const e = document.getElementById('zv-lote-aviso'); return e && e.textContent; }"
GUARD = 600  # seconds; a guard against a hang


def inputs(form, n):
    """The mapping and n records."""
    if form == "demo":
        mapping, data = (json.loads((DEMO / name).read_text(encoding="utf-8")) for name in ("mapa.json", "dados.json"))
        return mapping, [dict(data, ID=f"R{i}", NOME_PROPONENTE=f"{data['NOME_PROPONENTE']} {i}")
                         for i in range(1, n + 1)]
    return MAPA, records(n)


def records(n):
    people = [("Ana Lima", "Porto", "PT"), ("Rui Sá", "Braga", "PT"), ("Eva Costa", "Recife", "BR")]
    return [{"ID": f"R{i}", "NOME": people[i % 3][0], "CIDADE": people[i % 3][1], "PAIS": people[i % 3][2],
             "SEXO": "1", "CANAL": "2", "OBS": f"Registo {i}", "RepAtivarPreenc": 0} for i in range(1, n + 1)]


def start_chromium(profile, headed):
    cmd = [CHROMIUM, "--no-sandbox", "--no-first-run", "--disable-gpu", "--remote-debugging-port=0",
           f"--user-data-dir={profile}", "about:blank"]
    if headed:
        if shutil.which("xvfb-run") is None:
            sys.exit("--headed needs xvfb-run")
        cmd = ["xvfb-run", "-a", "-s", "-screen 0 1280x900x24"] + cmd
    else:
        cmd.insert(1, "--headless")
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    port_file, deadline = pathlib.Path(profile) / "DevToolsActivePort", time.monotonic() + 60
    while not (port_file.exists() and port_file.read_text().strip()):
        if proc.poll() is not None or time.monotonic() > deadline:
            sys.exit("Chromium did not start")
        time.sleep(0.1)
    return proc, f"http://127.0.0.1:{port_file.read_text().split()[0]}"


async def front_form(context, done):
    """The tab lote presents (its banner names a record not yet submitted) and that key."""
    while True:
        for page in list(context.pages):
            try:
                text = await page.evaluate(BANNER)
            except Exception:  # noqa: BLE001 - a tab that is closing or navigating
                continue
            key = text and text.split("(chave ", 1)[1].split(")", 1)[0]
            if key and key not in done:
                return page, key
        await asyncio.sleep(0.05)


async def one_run(address, work, form, pacing, tabs, review, n):
    mapping, data = inputs(form, n)
    (work / "mapa.json").write_text(json.dumps(mapping), encoding="utf-8")
    registos = work / f"r-{pacing}-{tabs}.json"
    registos.write_text(json.dumps(data), encoding="utf-8")
    status = work / f"r-{pacing}-{tabs}.relatorio.estado.jsonl"
    with (work / "saida.txt").open("ab") as log:
        proc = await asyncio.create_subprocess_exec(
            sys.executable, "-m", "ziveviver", "lote", "--url", FORM_URL, "--mapa", str(work / "mapa.json"),
            "--registos", str(registos), "--cdp", address, "--chave", "ID", "--abas", str(tabs),
            "--ritmo", pacing, stdin=asyncio.subprocess.DEVNULL, stdout=log, stderr=log)
    async with async_playwright() as pw:
        browser = await pw.chromium.connect_over_cdp(address)
        context = browser.contexts[0]
        done = []
        while len(done) < n:
            page, key = await front_form(context, done)
            done.append(key)
            await asyncio.sleep(review)  # the operator reviews the form
            await page.click("#SUBMETER")
        rc = await asyncio.wait_for(proc.wait(), GUARD)
        for page in list(context.pages)[1:]:
            await page.close()
    if rc != 0:
        sys.exit(f"lote ended with {rc}: see {work / 'saida.txt'}")
    lines = [json.loads(line) for line in status.read_text(encoding="utf-8").splitlines()]
    waits = [line["operador_esperou_s"] for line in lines if line.get("estado") == "submetido"][1:]
    fills = [line["preenchimento_s"] for line in lines if line.get("estado") == "preenchido"]
    return waits, fills


async def main(args):
    work = pathlib.Path(tempfile.mkdtemp(prefix="bench-lote-"))
    proc, address = start_chromium(work / "perfil", args.headed)
    rows = []
    try:
        for pacing in args.ritmos:
            for tabs in args.abas:
                waits, fills = await one_run(address, work, args.formulario, pacing, tabs, args.revisao,
                                             args.registos)
                rows.append((pacing, tabs, waits, fills))
                print(f"{pacing:<10} {tabs} separadores: espera do operador "
                      f"{' '.join(f'{w:.2f}' for w in waits)} s; preenchimentos "
                      f"{' '.join(f'{f:.1f}' for f in fills)} s", flush=True)
    finally:
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait(60)
        shutil.rmtree(work, ignore_errors=True)
    print(f"\n{args.formulario}; {'headed (Xvfb)' if args.headed else 'headless'}; revisão de {args.revisao:g} s; "
          f"{args.registos} registos por execução (a espera do primeiro, que é o seu preenchimento, fica de fora)")
    print("| ritmo | separadores | espera do operador: mediana / máxima | preenchimento: mediana / máximo |")
    print("|---|---|---|---|")
    for pacing, tabs, waits, fills in rows:
        print(f"| {pacing} | {tabs} | {statistics.median(waits):.2f} s / {max(waits):.2f} s | "
              f"{statistics.median(fills):.1f} s / {max(fills):.1f} s |")


if __name__ == "__main__":
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--abas", default="2,3", type=lambda s: [int(x) for x in s.split(",")])
    ap.add_argument("--ritmos", default=",".join(PACINGS), type=lambda s: s.split(","))
    ap.add_argument("--formulario", choices=("seis", "demo"), default="seis",
                    help="six fields per record, or the whole demonstration form")
    ap.add_argument("--revisao", type=float, default=8.0, help="seconds the operator reviews each form")
    ap.add_argument("--registos", type=int, default=6)
    ap.add_argument("--headed", action="store_true", help="a headed Chromium on a virtual X display")
    asyncio.run(main(ap.parse_args()))
