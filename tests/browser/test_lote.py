"""``ziveviver lote`` in real Chromium against the stand-in form: the command runs as its own
process attached to a browser (--cdp) in which the test plays the operator, who reviews the tab
in front and submits it with the form's own button."""
import asyncio
import csv
import json
import os
import pathlib
import signal
import sys
import zipfile

import pytest

from ziveviver.executor.browser import CHROMIUM_ARGS

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from lote_files import write_records  # noqa: E402

CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
FORM_URL = (pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo" / "form.html").as_uri()

MAPA = {"NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
        "CIDADE": {"WebSel": "#P1_CIDADE", "ColTipo": "autocomplete"},
        "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},
        "PROFISSAO": {"WebSel": "#P1_PROFISSAO", "ColTipo": "popuplovid"}}
PEOPLE = [("Ana Lima", "Porto", "PT"), ("Rui Sá", "Braga", "PT"), ("Eva Costa", "Recife", "BR"),
          ("Ivo Reis", "Faro", "PT"), ("Lia Rocha", "Natal", "BR")]
BANNER_TEXT = "() => { const e = document.getElementById('zv-lote-aviso'); return e && e.textContent; }"


def records(prefix):
    return [{"ID": f"{prefix}{i}", "NOME": n, "CIDADE": c, "PAIS": p, "RepAtivarPreenc": 0}
            for i, (n, c, p) in enumerate(PEOPLE, 1)]


@pytest.fixture(scope="module")
def operator_browser(loop, tmp_path_factory):
    """A Chromium with a remote-debugging port; its default context, as the test sees it."""
    from playwright.async_api import async_playwright

    profile = tmp_path_factory.mktemp("perfil")
    pw = loop.run_until_complete(async_playwright().start())
    owned = loop.run_until_complete(pw.chromium.launch_persistent_context(
        profile, executable_path=CHROMIUM, args=CHROMIUM_ARGS + ["--remote-debugging-port=0"]))
    port = (profile / "DevToolsActivePort").read_text().split()[0]
    address = f"http://127.0.0.1:{port}"
    seen = loop.run_until_complete(pw.chromium.connect_over_cdp(address))
    yield address, seen.contexts[0]
    loop.run_until_complete(owned.close())
    loop.run_until_complete(pw.stop())


def status_lines(path):
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()] if path.exists() else []


def last_states(lines):
    return {line["chave"]: line["estado"] for line in lines if "chave" in line}


async def until(condition):
    while not condition():
        await asyncio.sleep(0.05)


async def front_tab(context, key=None, done=()):
    """The tab presented to the operator (for `key`, when given; not one of `done`) and its
    record's key, read from the banner that names it."""
    while True:
        for page in list(context.pages):
            try:
                text = await page.evaluate(BANNER_TEXT)
            except Exception:  # noqa: BLE001 - a tab that is closing or navigating
                continue
            shown = text and text.split("(chave ", 1)[1].split(")", 1)[0]
            if shown and shown not in done and key in (None, shown):
                return page, shown
        await asyncio.sleep(0.05)


async def start_lote(address, tmp_path, registos, *extra):
    log = (tmp_path / "saida.txt").open("ab")
    return await asyncio.create_subprocess_exec(
        sys.executable, "-m", "ziveviver", "lote", "--url", FORM_URL, "--mapa", str(tmp_path / "mapa.json"),
        "--registos", str(registos), "--cdp", address, *extra,
        stdin=asyncio.subprocess.PIPE, stdout=log, stderr=log)


async def close_tabs(context):
    for page in list(context.pages):
        if not page.is_closed():
            await page.close()


@pytest.mark.parametrize("fmt", ["json", "jsonl", "csv", "xlsx"])
def test_five_records_filled_ahead_and_submitted_by_the_operator(operator_browser, run, tmp_path, fmt):
    address, context = operator_browser
    (tmp_path / "mapa.json").write_text(json.dumps(MAPA), encoding="utf-8")
    keys = [r["ID"] for r in records("P")]
    registos = write_records(tmp_path / "propostas", records("P"), fmt)
    status_path = tmp_path / f"propostas.{fmt}.relatorio.estado.jsonl"

    async def operate():
        proc = await start_lote(address, tmp_path, registos, "--chave", "ID", "--abas", "2")
        done = []
        while len(done) < len(keys):
            page, key = await front_tab(context, done=done)
            done.append(key)
            if len(done) < len(keys):  # the operator reviews for longer than the next fill takes
                await until(lambda: "preenchido" in (
                    s for k, s in last_states(status_lines(status_path)).items() if k != key))
            await page.click("#SUBMETER")
        return await proc.wait()

    try:
        assert run(operate()) == 0, (tmp_path / "saida.txt").read_text()
    finally:
        run(close_tabs(context))
    lines = status_lines(status_path)
    assert last_states(lines) == {k: "submetido" for k in keys}
    order = [(line["estado"], line["chave"]) for line in lines if "chave" in line]
    submitted = [k for state, k in order if state == "submetido"]
    for k, key in enumerate(submitted[:-1]):
        # the next form was ready before the operator submitted this one, so the operator's
        # wait was only the switch of tabs
        assert order.index(("preenchido", submitted[k + 1])) < order.index(("submetido", key))
    for n in range(len(order)):  # never more than two forms open at once
        states = last_states({"chave": k, "estado": s} for s, k in order[:n + 1])
        assert list(states.values()).count("preenchido") <= 2
    with (tmp_path / f"propostas.{fmt}.relatorio.csv").open(encoding="utf-8") as f:
        report = list(csv.DictReader(f))
    assert [(r["chave"], r["resultado"], r["campos_certos"], r["campos_esperados"]) for r in report] == \
        [(k, "submetido", "3", "3") for k in keys]
    last = {line["chave"]: line for line in lines if line.get("estado") == "submetido"}
    assert all(r["operador_esperou_s"] == str(last[r["chave"]]["operador_esperou_s"]) for r in report)


def test_killed_run_resumes_failed_record_goes_on_and_operator_skips_one(operator_browser, run, tmp_path):
    address, context = operator_browser
    (tmp_path / "mapa.json").write_text(json.dumps(MAPA), encoding="utf-8")
    data = records("Q")
    data[1]["PROFISSAO"] = "99999"  # no row of the popup LOV has this id
    registos = write_records(tmp_path / "propostas", data, "jsonl")
    report_path = tmp_path / "relatorio.json"
    status_path = tmp_path / "relatorio.estado.jsonl"
    evidence = tmp_path / "evidencias"
    extra = ("--chave", "ID", "--relatorio", str(report_path), "--evidencias", str(evidence))

    def state(key):
        return last_states(status_lines(status_path)).get(key)

    async def first_run():
        proc = await start_lote(address, tmp_path, registos, *extra)
        await (await front_tab(context, "Q1"))[0].click("#SUBMETER")
        await front_tab(context, "Q3")  # Q2's fill is still failing behind it
        await until(lambda: state("Q1") == "submetido" and state("Q3") == "preenchido")
        proc.send_signal(signal.SIGKILL)
        await proc.wait()
        await close_tabs(context)

    async def second_run():
        proc = await start_lote(address, tmp_path, registos, *extra)
        for key in ("Q3", "Q4"):
            await (await front_tab(context, key))[0].click("#SUBMETER")
        await front_tab(context, "Q5")
        proc.send_signal(signal.SIGINT)  # Ctrl+C: the operator skips this record
        await until(lambda: "Interrompido." in (tmp_path / "saida.txt").read_text())
        proc.stdin.write(b"i\n")
        await proc.stdin.drain()
        return await proc.wait()

    try:
        run(first_run())
        before = status_lines(status_path)
        rc = run(second_run())
    finally:
        run(close_tabs(context))
    out = (tmp_path / "saida.txt").read_text()
    assert rc == 1, out  # one record failed
    after = status_lines(status_path)
    assert after[:len(before)] == before  # no line of the killed run lost or changed
    second = next(i for i, line in enumerate(after) if line.get("execucao") == 2 and "chave" not in line)
    assert [line["chave"] for line in after[second:] if line.get("chave") == "Q1"] == []  # not refilled
    final = {line["chave"]: line for line in after[second:] if "chave" in line}
    assert {k: line["estado"] for k, line in final.items()} == {
        "Q2": "falhou", "Q3": "submetido", "Q4": "submetido", "Q5": "ignorado"}
    assert 'data-id="99999"' in final["Q2"]["motivo"] and final["Q5"]["motivo"] == "ignorado pelo operador"
    report = json.loads(report_path.read_text(encoding="utf-8"))
    assert {r["chave"]: r["resultado"] for r in report} == dict(last_states(after))
    # the failed record's evidence, named for its key; none for the records that landed
    assert sorted(p.name for p in evidence.iterdir()) == ["Q2.html", "Q2.log", "Q2.png"]
    why = (evidence / "Q2.log").read_text(encoding="utf-8")
    assert why.startswith("Registo Q2:\n  o preenchimento parou") and "fCtApexPreencPopupLovId" in why
    assert "Rui Sá" in why and "Ana Lima" not in why  # the lines of its own fill, not the others'


def test_operator_stops_the_run_and_every_open_record_says_so(operator_browser, run, tmp_path):
    address, context = operator_browser
    (tmp_path / "mapa.json").write_text(json.dumps(MAPA), encoding="utf-8")
    registos = write_records(tmp_path / "propostas", records("S")[:3], "json")

    async def operate():
        proc = await start_lote(address, tmp_path, registos, "--chave", "ID")
        _, key = await front_tab(context)
        proc.send_signal(signal.SIGINT)
        await until(lambda: "Interrompido." in (tmp_path / "saida.txt").read_text())
        proc.stdin.write(b"p\n")
        await proc.stdin.drain()
        return key, await proc.wait()

    try:
        front, rc = run(operate())
        left = [page.url for page in context.pages]
    finally:
        run(close_tabs(context))
    assert rc == 130, (tmp_path / "saida.txt").read_text()
    lines = status_lines(tmp_path / "propostas.json.relatorio.estado.jsonl")
    stopped = {line["chave"]: line["motivo"] for line in lines if line.get("estado") == "parado"}
    # the form in front and the one filled (or being filled) behind it; the third never opened
    assert stopped == {"S1": "execução parada pelo operador", "S2": "execução parada pelo operador"}
    assert front in stopped and FORM_URL not in left


def test_a_page_that_is_not_the_form_stops_the_run(operator_browser, run, tmp_path):
    address, context = operator_browser
    (tmp_path / "mapa.json").write_text(json.dumps(MAPA), encoding="utf-8")
    registos = write_records(tmp_path / "propostas", records("T"), "json")
    not_the_form = FORM_URL.replace("form.html", "enviado.html")

    async def start():
        proc = await asyncio.create_subprocess_exec(
            sys.executable, "-m", "ziveviver", "lote", "--url", not_the_form, "--mapa", str(tmp_path / "mapa.json"),
            "--registos", str(registos), "--cdp", address, stderr=asyncio.subprocess.PIPE)
        _, err = await proc.communicate()
        return proc.returncode, err.decode()

    rc, err = run(start())
    assert rc == 1 and "Erro: a execução parou: a página" in err and "não tem nenhum dos itens do mapa" in err
    states = last_states(status_lines(tmp_path / "propostas.json.relatorio.estado.jsonl"))
    assert set(states.values()) == {"parado"} and len(states) <= 2  # the tabs open then, not the rest


def test_two_records_files_of_one_base_name_keep_two_reports(operator_browser, run, tmp_path):
    """a.jsonl, then a.csv with someone else (keys by position in both): each is filled and
    submitted, and each keeps its own report and status file."""
    address, context = operator_browser
    (tmp_path / "mapa.json").write_text(json.dumps(MAPA), encoding="utf-8")
    files = [write_records(tmp_path / "a", records("J")[:1], "jsonl"),
             write_records(tmp_path / "a", records("K")[1:2], "csv")]

    async def operate(registos):
        proc = await start_lote(address, tmp_path, registos, "--traco", str(registos) + ".zip")
        try:  # a run that fills nothing presents no tab: a generous bound, not a measure
            page, _ = await asyncio.wait_for(front_tab(context), 120)
        except asyncio.TimeoutError:
            proc.kill()
            await proc.wait()
            raise
        name = await page.input_value("#P1_NOME")
        await page.click("#SUBMETER")
        return await proc.wait(), name

    try:
        outcomes = [run(operate(f)) for f in files]
    finally:
        run(close_tabs(context))
    assert outcomes == [(0, PEOPLE[0][0]), (0, PEOPLE[1][0])], (tmp_path / "saida.txt").read_text()
    for path in files:
        with path.with_name(path.name + ".relatorio.csv").open(encoding="utf-8") as f:
            assert [(r["chave"], r["resultado"]) for r in csv.DictReader(f)] == [("1", "submetido")]
        status = status_lines(path.with_name(path.name + ".relatorio.estado.jsonl"))
        assert [line["registos"] for line in status if "chave" not in line] == [str(path)]
        with zipfile.ZipFile(str(path) + ".zip") as z:  # --traco: the run's trace
            assert any(name.endswith(".trace") for name in z.namelist())
