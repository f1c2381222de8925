"""``ziveviver lote`` in real Chromium against the stand-in form: the command runs as its own
process attached to a browser (--cdp) in which the test plays the operator, who reviews the tab
in front and submits it with the form's own button."""
import asyncio
import csv
import json
import os
import pathlib
import itertools
import signal
import sys
import zipfile

import pytest

from ziveviver.executor.browser import CHROMIUM_ARGS

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from lote_files import write_records  # noqa: E402
from lote_server import REJECTION, LoteServer  # noqa: E402

CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
FORM_URL = (pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo" / "form.html").as_uri()

MAPA = {"NOME": {"WebSel": "#P1_NOME", "ColTipo": "text"},
        "CIDADE": {"WebSel": "#P1_CIDADE", "ColTipo": "autocomplete"},
        "PAIS": {"WebSel": "#P1_PAIS", "ColTipo": "dropdownlist"},
        "PROFISSAO": {"WebSel": "#P1_PROFISSAO", "ColTipo": "popuplovid"}}
PEOPLE = [("Ana Lima", "Porto", "PT"), ("Rui Sá", "Braga", "PT"), ("Eva Costa", "Recife", "BR"),
          ("Ivo Reis", "Faro", "PT"), ("Lia Rocha", "Natal", "BR")]
# fields filled by clicks on labels, and a text area
CLICKED = {"SEXO": {"WebSel": "#P1_SEXO", "ColTipo": "radio"},
           "CANAL": {"WebSel": "#P1_CANAIS", "ColTipo": "checkboxmultiple"},
           "OBS": {"WebSel": "#P1_OBS", "ColTipo": "textarea"}}
BANNER_TEXT = "() => { const e = document.getElementById('zv-lote-aviso'); return e && e.textContent; }"


DEADLINE_S = 120  # a guard against a hang, not a measurement
_runs = itertools.count(1)


def records(prefix):
    return [{"ID": f"{prefix}{i}", "NOME": n, "CIDADE": c, "PAIS": p, "RepAtivarPreenc": 0}
            for i, (n, c, p) in enumerate(PEOPLE, 1)]


def new_prefix(letter):
    """Record keys no other test (nor another run of this one) uses: a tab some earlier run left
    is never taken for this run's."""
    return f"{letter}{os.getpid()}x{next(_runs)}-"


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


@pytest.fixture
def server():
    srv = LoteServer()
    yield srv
    srv.stop()


def status_lines(path):
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()] if path.exists() else []


def last_states(lines):
    return {line["chave"]: line["estado"] for line in lines if "chave" in line}


async def banner(page, words):
    """The banner's text when it says `words` (None while it does not, or the page is going)."""
    try:
        text = await page.evaluate(BANNER_TEXT)
    except Exception:  # noqa: BLE001 - a tab navigating
        return None
    return text if text and words in text else None


class Lote:
    """One `ziveviver lote` process: every wait on it has a deadline and ends, with the
    process's output, as soon as the process has exited."""

    def __init__(self, proc, out):
        self.proc, self.out = proc, out

    def output(self):
        return self.out.read_text(encoding="utf-8", errors="replace")

    async def until(self, condition, what):
        """Waits until `condition()` (a function, or a coroutine function) is true."""
        deadline = asyncio.get_running_loop().time() + DEADLINE_S
        while True:
            value = condition()
            if asyncio.iscoroutine(value):
                value = await value
            if value:
                return value
            if self.proc.returncode is not None:
                raise AssertionError(f"lote saiu ({self.proc.returncode}) sem {what}:\n{self.output()}")
            if asyncio.get_running_loop().time() > deadline:
                raise AssertionError(f"{what}: não aconteceu em {DEADLINE_S} s:\n{self.output()}")
            await asyncio.sleep(0.05)

    async def front_tab(self, context, key=None, done=()):
        """The tab presented to the operator (for `key`, when given; not one of `done`) and its
        record's key, read from the banner that names it."""
        async def look():
            for page in list(context.pages):
                try:
                    text = await page.evaluate(BANNER_TEXT)
                except Exception:  # noqa: BLE001 - a tab that is closing or navigating
                    continue
                shown = text and "(chave " in text and text.split("(chave ", 1)[1].split(")", 1)[0]
                if shown and shown not in done and key in (None, shown):
                    return page, shown
            return None
        return await self.until(look, f"o separador {key or 'seguinte'} à frente")

    async def wait(self):
        try:
            return await asyncio.wait_for(self.proc.wait(), DEADLINE_S)
        except asyncio.TimeoutError:
            raise AssertionError(f"lote não terminou em {DEADLINE_S} s:\n{self.output()}") from None


@pytest.fixture
def lote(operator_browser, run, tmp_path):
    """Starts `ziveviver lote` attached to the operator's browser; whatever the test's end, the
    process is killed and the browser's tabs closed."""
    address, context = operator_browser
    started = []

    async def start(registos, *extra, url=FORM_URL):
        out = tmp_path / "saida.txt"
        with out.open("ab") as log:
            proc = await asyncio.create_subprocess_exec(
                sys.executable, "-m", "ziveviver", "lote", "--url", url, "--mapa", str(tmp_path / "mapa.json"),
                "--registos", str(registos), "--cdp", address, *extra,
                stdin=asyncio.subprocess.PIPE, stdout=log, stderr=log)
        started.append(Lote(proc, out))
        return started[-1]
    (tmp_path / "mapa.json").write_text(json.dumps(MAPA), encoding="utf-8")
    yield start
    for one in started:
        if one.proc.returncode is None:
            one.proc.kill()
            run(one.proc.wait())
    run(close_tabs(context))


async def close_tabs(context):
    for page in list(context.pages):
        if not page.is_closed():
            await page.close()


@pytest.mark.parametrize("fmt", ["json", "jsonl", "csv", "xlsx"])
def test_five_records_filled_ahead_and_submitted_by_the_operator(operator_browser, lote, run, tmp_path, fmt):
    _, context = operator_browser
    data = records(new_prefix("P"))
    keys = [r["ID"] for r in data]
    registos = write_records(tmp_path / "propostas", data, fmt)
    status_path = tmp_path / f"propostas.{fmt}.relatorio.estado.jsonl"

    async def operate():
        proc = await lote(registos, "--chave", "ID", "--abas", "2")
        done = []
        while len(done) < len(keys):
            page, key = await proc.front_tab(context, done=done)
            done.append(key)
            await page.click("#SUBMETER")
        return await proc.wait(), proc.output()

    rc, out = run(operate())
    assert rc == 0, out
    lines = status_lines(status_path)
    assert last_states(lines) == {k: "submetido" for k in keys}
    order = [(line["estado"], line["chave"]) for line in lines if "chave" in line]
    for n in range(len(order)):  # never more than two forms open at once
        states = last_states({"chave": k, "estado": s} for s, k in order[:n + 1])
        assert list(states.values()).count("preenchido") <= 2
    for key in keys:  # each submission on disk before it went, then its answer
        assert [s for s, k in order if k == key] == ["preenchido", "a_submeter", "submetido"]
    with (tmp_path / f"propostas.{fmt}.relatorio.csv").open(encoding="utf-8") as f:
        report = list(csv.DictReader(f))
    assert [(r["chave"], r["resultado"], r["campos_certos"], r["campos_esperados"]) for r in report] == \
        [(k, "submetido", "3", "3") for k in keys]
    last = {line["chave"]: line for line in lines if line.get("estado") == "submetido"}
    assert all(r["operador_esperou_s"] == str(last[r["chave"]]["operador_esperou_s"]) for r in report)
    assert "Resumo: 5 submetidos." in out and "A preencher 5 registos em até 2 separadores." in out


@pytest.mark.parametrize("abas", [2, 3])
def test_records_filled_behind_are_ready_when_the_operator_submits(operator_browser, lote, run, tmp_path, abas):
    """The first tabs fill together, one of them in front of the window and the others behind
    it; the records behind fill about as fast. An operator who reviews each form for three
    times the fill in front then finds the next form ready at every submit."""
    _, context = operator_browser
    data = [dict(r, SEXO="1", CANAL="2", OBS=f"Registo {r['ID']}") for r in records(new_prefix("W"))[:abas + 1]]
    registos = write_records(tmp_path / "propostas", data, "json")
    status_path = tmp_path / "propostas.json.relatorio.estado.jsonl"

    def fill_time(key):
        return next(line["preenchimento_s"] for line in status_lines(status_path)
                    if line.get("chave") == key and line["estado"] == "preenchido")

    async def operate():
        (tmp_path / "mapa.json").write_text(json.dumps(dict(MAPA, **CLICKED)), encoding="utf-8")
        proc = await lote(registos, "--chave", "ID", "--abas", str(abas), "--ritmo", "adaptativo")
        done, in_front = [], None
        while len(done) < len(data):
            page, key = await proc.front_tab(context, done=done)
            done.append(key)
            if in_front is None:  # the first fill to end: the one in front, if those behind lag
                in_front = fill_time(key)
            await asyncio.sleep(3 * in_front)  # the operator reviews the form
            await page.click("#SUBMETER")
        return in_front, await proc.wait(), proc.output()

    in_front, rc, out = run(operate())
    assert rc == 0, out
    lines = status_lines(status_path)
    assert last_states(lines) == {r["ID"]: "submetido" for r in data}
    together = [fill_time(r["ID"]) for r in data[:abas]]
    assert max(together) <= 1.5 * min(together), together
    waits = [line["operador_esperou_s"] for line in lines if line.get("estado") == "submetido"]
    # the first form's wait is its fill; every later one was ready before its turn came
    assert max(waits[1:]) <= in_front / 2, (waits, in_front)


def test_killed_between_submit_and_answer_nothing_is_submitted_twice(operator_browser, lote, server, run, tmp_path):
    """The run dies (SIGKILL) while the application holds its answer to a submit: the resumed
    run closes the tabs it left, does not fill that record again (its submission is "por
    confirmar"), retries the failed one and goes on; the operator skips the last."""
    _, context = operator_browser
    data = records(new_prefix("Q"))
    data[1]["PROFISSAO"] = "99999"  # no row of the popup LOV has this id
    k = [r["ID"] for r in data]
    name = {r["ID"]: r["NOME"] for r in data}
    registos = write_records(tmp_path / "propostas", data, "jsonl")
    report_path = tmp_path / "relatorio.json"
    status_path = tmp_path / "relatorio.estado.jsonl"
    evidence = tmp_path / "evidencias"
    extra = ("--chave", "ID", "--relatorio", str(report_path), "--evidencias", str(evidence))

    def state(key):
        return last_states(status_lines(status_path)).get(key)

    async def first_run():
        proc = await lote(registos, *extra, url=server.url())
        page, a = await proc.front_tab(context)
        await page.click("#SUBMETER")
        page, b = await proc.front_tab(context, done=[a])
        await proc.until(lambda: state(a) == "submetido" and any(
            state(x) == "preenchido" for x in k if x not in (a, b)), "o primeiro submetido e outro preenchido atrás")
        server.hold()
        await page.click("#SUBMETER", no_wait_after=True)  # its answer is held
        await proc.until(lambda: server.posted(name[b]), "a submissão na aplicação")
        proc.proc.send_signal(signal.SIGKILL)
        await proc.wait()
        server.release()  # the answer arrives in a tab nobody follows any more
        return a, b, [p for p in context.pages if not p.is_closed() and p.url != "about:blank"]

    async def second_run():
        proc = await lote(registos, *extra, url=server.url())
        page, c = await proc.front_tab(context)
        await page.click("#SUBMETER")
        _, d = await proc.front_tab(context, done=[c])
        proc.proc.send_signal(signal.SIGINT)  # Ctrl+C: the operator skips this record
        await proc.until(lambda: "Interrompido." in proc.output(), "a pergunta do Ctrl+C")
        proc.proc.stdin.write(b"i\n")
        await proc.proc.stdin.drain()
        return c, d, await proc.wait(), proc.output()

    a, b, left = run(first_run())
    before = status_lines(status_path)
    assert len(left) >= 2, "the killed run left its tabs in the browser"
    c, d, rc, out = run(second_run())
    assert rc == 1, out  # one record failed, one is unconfirmed
    assert {c, d} == set(k) - {a, b, k[1]}, out  # the unconfirmed one is not put in front again
    assert sorted(server.posts) == sorted(name[x] for x in (a, b, c)), out  # each once
    assert all(p.is_closed() for p in left), out
    second_out = out[out.rindex("A ligar ao navegador"):]
    assert second_out.count("Separador deixado por uma execução anterior") == len(left)
    assert second_out.rindex("Separador deixado por uma execução anterior") < second_out.index("a preencher")
    assert f"(chave {b}): submissão por confirmar" in out
    after = status_lines(status_path)
    assert after[:len(before)] == before  # no line of the killed run lost or changed
    assert [line["estado"] for line in before if line.get("chave") == b] == ["preenchido", "a_submeter"]
    second = next(i for i, line in enumerate(after) if line.get("execucao") == 2 and "chave" not in line)
    final = {line["chave"]: line for line in after[second:] if "chave" in line}
    assert {key: line["estado"] for key, line in final.items()} == {
        k[1]: "falhou", b: "por_confirmar", c: "submetido", d: "ignorado"}
    assert 'data-id="99999"' in final[k[1]]["motivo"] and final[d]["motivo"] == "ignorado pelo operador"
    report = json.loads(report_path.read_text(encoding="utf-8"))
    assert {r["chave"]: r["resultado"] for r in report} == dict(last_states(after))
    assert next(r for r in report if r["chave"] == b)["motivo"].startswith("submissão por confirmar")
    # the failed record's evidence, named for its key; none for the records that landed
    assert sorted(p.name for p in evidence.iterdir()) == [f"{k[1]}.html", f"{k[1]}.log", f"{k[1]}.png"]
    why = (evidence / f"{k[1]}.log").read_text(encoding="utf-8")
    assert why.startswith(f"Registo {k[1]}:\n  o preenchimento parou") and "fCtApexPreencPopupLovId" in why
    assert "Rui Sá" in why and "Ana Lima" not in why  # the lines of its own fill, not the others'


def test_a_form_left_open_by_a_killed_run_and_submitted_unwatched_is_not_filled_again(
        operator_browser, lote, server, run, tmp_path):
    """The run dies (SIGKILL) with a record filled and in front, another filled behind; the
    operator then submits the one in front in its tab (no run follows it) and closes the tab.
    The resumed run finds no tab of that record: it is "por confirmar", not filled again; the one
    whose tab is still on the form is filled again, as the record never reached. --refazer on
    it fills it again."""
    _, context = operator_browser
    data = records(new_prefix("L"))[:3]
    k = [r["ID"] for r in data]
    name = {r["ID"]: r["NOME"] for r in data}
    registos = write_records(tmp_path / "propostas", data, "json")
    status_path = tmp_path / "propostas.json.relatorio.estado.jsonl"

    def states():
        return last_states(status_lines(status_path))

    async def killed_run():
        proc = await lote(registos, "--chave", "ID", url=server.url())
        page, a = await proc.front_tab(context)
        await proc.until(lambda: list(states().values()).count("preenchido") == 2, "outro preenchido atrás")
        proc.proc.send_signal(signal.SIGKILL)
        await proc.wait()
        await page.click("#SUBMETER")  # the operator, with no run watching
        await page.wait_for_url("**/enviado.html")
        await page.close()
        return a

    async def resumed_run(*extra):
        """The operator submits every form put in front, until the run ends."""
        proc = await lote(registos, "--chave", "ID", *extra, url=server.url())
        done = []
        while True:
            try:
                page, key = await proc.front_tab(context, done=done)
            except AssertionError:
                if proc.proc.returncode is None:
                    raise
                return done, proc.proc.returncode, proc.output()
            done.append(key)
            await page.click("#SUBMETER")

    a = run(killed_run())
    assert server.posts == [name[a]]
    done, rc, out = run(resumed_run())
    assert sorted(done) == sorted(set(k) - {a}), out  # the one left on the form, and the third
    assert rc == 1 and "1 registo com a submissão por confirmar" in out, out
    pos = k.index(a) + 1
    assert (f"Registo {pos} (chave {a}): submissão por confirmar: uma execução anterior terminou sem "
            "fechar o seu formulário") in out, out
    assert f"corra de novo com --refazer {a}." in out
    assert sorted(server.posts) == sorted(name.values()), out  # each once
    lines = status_lines(status_path)
    runs = [line for line in lines if "chave" not in line]
    assert [line["cdp"] for line in runs] == [True, True]
    unconfirmed = [line for line in lines if line.get("chave") == a][-1]
    assert unconfirmed["estado"] == "por_confirmar" and unconfirmed["execucao"] == 2
    assert unconfirmed["motivo"].startswith("submissão por confirmar: uma execução anterior terminou")
    assert states() == dict({x: "submetido" for x in k}, **{a: "por_confirmar"})
    done, rc, out = run(resumed_run("--refazer", a))  # the operator found it missing
    assert (done, rc) == ([a], 0), out
    assert states() == {x: "submetido" for x in k}
    assert server.posted(name[a]) == 2


@pytest.mark.parametrize("stop", ["sigterm", "ctrl-c"])
def test_a_stopped_run_leaves_no_tab_and_the_resumed_run_submits_nothing_twice(
        operator_browser, lote, server, run, tmp_path, stop):
    """Stopped (SIGTERM, as `timeout` and a CI's cancel send it; or the operator's Ctrl+C, p)
    while a submit waits for its answer: every open record is parado, that one por confirmar,
    no tab is left; the resumed run fills the others only."""
    _, context = operator_browser
    data = records(new_prefix("T"))[:3]
    k = [r["ID"] for r in data]
    registos = write_records(tmp_path / "propostas", data, "json")
    status_path = tmp_path / "propostas.json.relatorio.estado.jsonl"
    reason, status = {"sigterm": ("execução terminada por um sinal (SIGTERM)", 143),
                      "ctrl-c": ("execução parada pelo operador", 130)}[stop]

    async def first_run():
        proc = await lote(registos, "--chave", "ID", url=server.url())
        page, a = await proc.front_tab(context)
        server.hold()
        await page.click("#SUBMETER", no_wait_after=True)  # its answer is held
        await proc.until(lambda: server.posts, "a submissão na aplicação")
        if stop == "sigterm":
            proc.proc.send_signal(signal.SIGTERM)
        else:
            proc.proc.send_signal(signal.SIGINT)
            await proc.until(lambda: "Interrompido." in proc.output(), "a pergunta do Ctrl+C")
            proc.proc.stdin.write(b"p\n")
            await proc.proc.stdin.drain()
        rc = await proc.wait()
        server.release()
        return a, rc, proc.output(), [p.url for p in context.pages if not p.is_closed() and p.url != "about:blank"]

    async def second_run():
        proc = await lote(registos, "--chave", "ID", url=server.url())
        done = []
        for _ in range(2):
            page, key = await proc.front_tab(context, done=done)
            done.append(key)
            await page.click("#SUBMETER")
        return done, await proc.wait(), proc.output()

    a, rc, out, left = run(first_run())
    assert rc == status and f"A parar: {reason}." in out and left == [], out
    first = {line["chave"]: line for line in status_lines(status_path) if "chave" in line}
    other = ({k[0], k[1]} - {a}).pop()  # the tab open behind it; the third never opened
    assert {key: line["estado"] for key, line in first.items()} == {a: "por_confirmar", other: "parado"}, out
    assert first[other]["motivo"] == reason and first[a]["motivo"] == f"submissão por confirmar: {reason}"
    done, rc, out = run(second_run())
    assert rc == 1 and "1 registo com a submissão por confirmar" in out, out
    assert sorted(done) == sorted(set(k) - {a}), out
    assert last_states(status_lines(status_path)) == dict({x: "submetido" for x in k}, **{a: "por_confirmar"})
    assert sorted(server.posts) == sorted(r["NOME"] for r in data), out  # each one once


@pytest.mark.parametrize("submit", ["pagina", "ajax"])
def test_a_refused_submit_is_rejeitado_and_stays_in_front_until_submitted_again(
        operator_browser, lote, server, run, tmp_path, submit):
    """The application answers the submit with its errors (the form again, or APEX's ajax page
    submit answered in JSON): the record is rejeitado, why is said, and its tab stays in front;
    the operator submits again and it is submetido."""
    _, context = operator_browser
    data = records(new_prefix("R"))[:1]
    key = data[0]["ID"]
    server.reject.add(data[0]["NOME"])
    registos = write_records(tmp_path / "propostas", data, "json")
    status_path = tmp_path / "propostas.json.relatorio.estado.jsonl"

    async def operate():
        proc = await lote(registos, "--chave", "ID", url=server.url("ajax=1" if submit == "ajax" else ""))
        page, _ = await proc.front_tab(context, key)
        await page.click("#SUBMETER")
        await proc.until(lambda: last_states(status_lines(status_path)).get(key) == "rejeitado", "rejeitado")
        await proc.until(lambda: banner(page, "recusou"), "o aviso da recusa no separador")
        if submit == "ajax":  # the form again (a page of its own, not a submit's answer)
            await page.reload()
        await page.fill("#P1_NOME", data[0]["NOME"])  # the operator corrects the form
        await page.click("#SUBMETER")
        return await proc.wait(), proc.output()

    rc, out = run(operate())
    assert rc == 0, out
    lines = [line for line in status_lines(status_path) if "chave" in line]
    assert [line["estado"] for line in lines] == ["preenchido", "a_submeter", "rejeitado", "a_submeter", "submetido"]
    assert REJECTION in lines[2]["motivo"] and f"a aplicação recusou a submissão: {REJECTION}" in out
    assert server.posts == [data[0]["NOME"]] * 2


def test_a_page_that_is_not_the_form_stops_the_run(lote, run, tmp_path):
    registos = write_records(tmp_path / "propostas", records(new_prefix("N")), "json")

    async def start():
        proc = await lote(registos, url=FORM_URL.replace("form.html", "enviado.html"))
        return await proc.wait(), proc.output()

    rc, out = run(start())
    assert rc == 1 and "Erro: a execução parou: a página" in out and "não tem nenhum dos itens do mapa" in out
    states = last_states(status_lines(tmp_path / "propostas.json.relatorio.estado.jsonl"))
    assert set(states.values()) == {"parado"} and len(states) <= 2  # the tabs open then, not the rest


def test_two_records_files_of_one_base_name_keep_two_reports(operator_browser, lote, run, tmp_path):
    """a.jsonl, then a.csv with someone else (keys by position in both): each is filled and
    submitted, and each keeps its own report and status file."""
    _, context = operator_browser
    files = [write_records(tmp_path / "a", records(new_prefix("J"))[:1], "jsonl"),
             write_records(tmp_path / "a", records(new_prefix("K"))[1:2], "csv")]

    async def operate(registos):
        proc = await lote(registos, "--traco", str(registos) + ".zip")
        page, _ = await proc.front_tab(context)
        name = await page.input_value("#P1_NOME")
        await page.click("#SUBMETER")
        return await proc.wait(), name

    outcomes = [run(operate(f)) for f in files]
    assert outcomes == [(0, PEOPLE[0][0]), (0, PEOPLE[1][0])], (tmp_path / "saida.txt").read_text()
    for path in files:
        with path.with_name(path.name + ".relatorio.csv").open(encoding="utf-8") as f:
            assert [(r["chave"], r["resultado"]) for r in csv.DictReader(f)] == [("1", "submetido")]
        status = status_lines(path.with_name(path.name + ".relatorio.estado.jsonl"))
        assert [line["registos"] for line in status if "chave" not in line] == [str(path)]
        with zipfile.ZipFile(str(path) + ".zip") as z:  # --traco: the run's trace
            assert any(name.endswith(".trace") for name in z.namelist())


@pytest.mark.parametrize("quadro", [[], ["--quadro", ".ui-dialog--apex iframe"]], ids=["achado", "quadro"])
def test_records_in_dialog_pages_count_the_dialogs_own_submit_and_not_a_cancel(
        operator_browser, lote, server, run, tmp_path, quadro):
    """The form opens as a modal dialog page (?novo=1): each record is filled in the dialog's
    frame (found, or named by --quadro), the top page's items left alone. The operator submits
    three with the dialog page's own button (a POST of the iframe to wwv_flow.accept, then the
    dialog closes) and cancels the second with Escape: three submetido, each reaching the
    server once; the cancelled one is parado, never sent."""
    _, context = operator_browser
    data = records(new_prefix("D"))[:4]
    keys = [rec["ID"] for rec in data]
    registos = write_records(tmp_path / "propostas", data, "json")
    status_path = tmp_path / "propostas.json.relatorio.estado.jsonl"
    seen = {}

    async def operate():
        proc = await lote(registos, "--chave", "ID", *quadro, url=server.url("novo=1"))
        while len(seen) < len(keys):  # a tab ready first is presented first
            page, key = await proc.front_tab(context, done=seen)
            frame = await (await page.query_selector(".ui-dialog--apex iframe")).content_frame()
            seen[key] = (await page.input_value("#P1_NOME"), await frame.input_value("#P1_NOME"))
            if key == keys[1]:
                await frame.press("#P1_NOME", "Escape")
            else:
                await frame.click("#SUBMETER")
            await proc.until(lambda: last_states(status_lines(status_path)).get(key) in ("submetido", "parado"),
                             f"o registo {key} assente")
        return await proc.wait(), proc.output()

    rc, out = run(operate())
    assert seen == {rec["ID"]: ("", rec["NOME"]) for rec in data}, out
    lines = [line for line in status_lines(status_path) if "chave" in line]
    states = {key: [line["estado"] for line in lines if line["chave"] == key] for key in keys}
    submitted = ["preenchido", "a_submeter", "submetido"]
    assert states == {keys[0]: submitted, keys[1]: ["preenchido", "parado"],
                      keys[2]: submitted, keys[3]: submitted}, out
    names = {rec["ID"]: rec["NOME"] for rec in data}  # sent in the order the operator submitted them
    assert server.posts == [names[key] for key in seen if key != keys[1]]
    assert rc == 1 and "1 registo ficou por submeter" in out, out


@pytest.mark.parametrize("submit", ["ajax", "pagina"])
def test_a_refused_submit_in_a_dialog_page_is_rejeitado_and_the_dialog_stays_until_submitted_again(
        operator_browser, lote, server, run, tmp_path, submit):
    """The form is a modal dialog page (?novo=1) and the application refuses its submit (the ajax
    page submit answered with errors in JSON, or the iframe's full-page POST answered with the
    form again and its errors): the dialog stays open showing them, the record is rejeitado with
    the application's message and its tab stays in front; the operator corrects the form in the
    dialog and submits again: the dialog closes and the record is submetido."""
    _, context = operator_browser
    data = records(new_prefix("E"))[:1]
    key, name = data[0]["ID"], data[0]["NOME"]
    server.reject.add(name)
    registos = write_records(tmp_path / "propostas", data, "json")
    status_path = tmp_path / "propostas.json.relatorio.estado.jsonl"

    async def operate():
        proc = await lote(registos, "--chave", "ID", url=server.url("novo=1&envio=pagina" if submit == "pagina" else "novo=1"))
        page, _ = await proc.front_tab(context, key)
        frame = await (await page.query_selector(".ui-dialog--apex iframe")).content_frame()
        await frame.click("#SUBMETER", no_wait_after=True)
        await proc.until(lambda: last_states(status_lines(status_path)).get(key) == "rejeitado", "rejeitado")
        await proc.until(lambda: banner(page, "recusou"), "o aviso da recusa no separador")
        shown = (await page.locator(".ui-dialog--apex iframe").count(), await frame.text_content("#P1_NOME_error"))
        await frame.fill("#P1_NOME", name)  # the operator corrects the form in the dialog
        await frame.click("#SUBMETER", no_wait_after=True)
        return shown, await proc.wait(), proc.output()

    shown, rc, out = run(operate())
    assert rc == 0, out
    assert shown == (1, REJECTION), out  # the dialog kept open, its page showing the error
    lines = [line for line in status_lines(status_path) if "chave" in line]
    assert [line["estado"] for line in lines] == ["preenchido", "a_submeter", "rejeitado", "a_submeter", "submetido"], out
    assert REJECTION in lines[2]["motivo"] and f"a aplicação recusou a submissão: {REJECTION}" in out
    assert server.posts == [name] * 2
