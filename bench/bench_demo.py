"""Benchmark (not a test): the whole demo form, filled by the package, against the pauses
the fills must make and against the same page operations issued by a bare Playwright script.

Each run opens the stand-in form three times, each in a fresh page of one headless Chromium,
in an order that rotates from run to run (after one uncounted recorded fill as a warm-up):

  fill      ``VexoControleApex(page).fCtPreencTodoForm(mapa, dados)`` on the real page: the
            headline wall time;
  recorded  the same fill through a recording proxy (``_recording_page.py``) that forwards
            every page, locator and keyboard call and logs it with its time;
  bare      that recorded sequence turned into a plain Playwright coroutine, one
            ``await page....`` per operation, run on a fresh page (operations that raised in
            the fill, such as the popup close wait that always runs out, raise here too and
            are passed over).

Mandated pauses, from the mapping and data: per popup LOV by id filled, 1800 ms after opening
+ the 5000 ms close wait (the stand-in page never closes the popup by itself, so it always
runs out) + the idle wait's 300 ms + 1000 ms at the end + 500 ms per load-more click; per grid
row 1200 ms after adding + 1800 ms after saving. The load-more clicks are counted in the page.

The replay is checked against the fill: same operation sequence in every recording, the same
end state of the page (every item's value and the saved grid rows), and every replayed
operation raising or not as it did in the fill. The table splits each wall time by operation
kind; what is left is the time spent outside page operations.

    .venv/bin/python bench/bench_demo.py [--runs N] [--no-warmup] [--dump-replay FILE]
"""
import argparse
import asyncio
import json
import os
import pathlib
import statistics
import sys
import time

from playwright.async_api import async_playwright

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from _recording_page import Recorder, RecordingPage, compile_replay, signature  # noqa: E402

from ziveviver.vexocontrole import VexoControleApex  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[1]
DEMO = ROOT / "src" / "ziveviver" / "demo"
SCRIPTS = ROOT / "native" / "vexocontrole" / "scripts"
FORM_URL = (DEMO / "form.html").as_uri()
CHROMIUM = os.environ.get("ZV_CHROMIUM", "/usr/bin/chromium")
CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run"]
SECTIONS = ("Representantes", "Titulares", "Beneficiarios")
BUTTONS = ("TitInserir", "TitGravar", "BenInserir", "BenGravar")
INVALID_LOV_VALUES = ("", "0", "0.0", "None", "null", "false", "undefined")

LOV_OPEN_MS, LOV_CLOSE_WAIT_MS, IDLE_PAUSE_MS, LOV_END_MS, LOAD_MORE_MS = 1800, 5000, 300, 1000, 500
ROW_ADD_MS, ROW_SAVE_MS = 1200, 1800

# Counts clicks on the popup's load-more buttons (the search script clicks them in the page).
COUNT_LOAD_MORE = """() => {
  window.__benchLoadMore = 0;
  document.addEventListener('click', e => {
    if (e.target.closest && e.target.closest('.a-GV-loadMoreButton')) window.__benchLoadMore++;
  }, true);
}"""
END_STATE = "JSON.stringify({state: __zv.state(), saved: __zv.saved})"


def load_inputs():
    return (json.loads((DEMO / "mapa.json").read_text(encoding="utf-8")),
            json.loads((DEMO / "dados.json").read_text(encoding="utf-8")))


def lov_value_filled(value):
    """Whether a popup LOV by id fill goes as far as the page for this value."""
    if value is None:
        return False
    text = str(value).strip()
    if text in INVALID_LOV_VALUES:
        return False
    try:
        return float(value) != 0
    except (ValueError, TypeError):
        return True


def mandated_counts(mapping, data):
    """(popup LOV fills, grid rows) that the demo's data asks for."""
    lovs = 0
    for col, cfg in mapping.items():
        if col in SECTIONS:
            break
        lovs += cfg.get("ColTipo", "").lower() == "popuplovid" and lov_value_filled(data.get(col))
    if data.get("RepAtivarPreenc") == 1 and data.get("Representantes") and "Representantes" in mapping:
        rec = data["Representantes"]
        lovs += sum(cfg.get("ColTipo", "").lower() == "popuplovid" and lov_value_filled(rec.get(col))
                    for col, cfg in mapping["Representantes"].items())
    rows = 0
    for section in ("Titulares", "Beneficiarios"):
        records = data.get(section) or []
        if not records or section not in mapping:
            continue
        rows += len(records)
        for rec in records:
            lovs += sum(col not in BUTTONS and cfg.get("ColTipo") == "popuplovid"
                        and lov_value_filled(rec.get(col, ""))
                        for col, cfg in mapping[section].items())
    return lovs, rows


def mandated_ms(lovs, rows, load_more_clicks):
    per_lov = LOV_OPEN_MS + LOV_CLOSE_WAIT_MS + IDLE_PAUSE_MS + LOV_END_MS
    return lovs * per_lov + load_more_clicks * LOAD_MORE_MS + rows * (ROW_ADD_MS + ROW_SAVE_MS)


def script_names():
    names = {}
    for f in SCRIPTS.glob("*.js"):
        names[f.read_text(encoding="utf-8").strip()] = f.stem
    return names


def kind_of(op, names):
    label = op.kind()
    if op.name in ("evaluate", "wait_for_function") and op.args:
        label += f"[{names.get(str(op.args[0]).strip(), 'script')}]"
    return label


async def fresh_page(browser):
    page = await browser.new_page(viewport={"width": 1280, "height": 900})
    await page.goto(FORM_URL)
    await page.wait_for_function("window.__zv && window.__zv.ready === true")
    await page.evaluate(COUNT_LOAD_MORE)
    return page


async def finish(page):
    state = await page.evaluate(END_STATE)
    clicks = await page.evaluate("window.__benchLoadMore")
    await page.close()
    return state, clicks


async def run_fill(browser, recorder=None):
    mapping, data = load_inputs()
    page = await fresh_page(browser)
    target = page if recorder is None else RecordingPage(page, recorder)
    t0 = time.perf_counter()
    await VexoControleApex(target).fCtPreencTodoForm(mapping, data)
    wall = time.perf_counter() - t0
    state, clicks = await finish(page)
    return wall, state, clicks


async def run_bare(browser, replay):
    page = await fresh_page(browser)
    timings = []
    t0 = time.perf_counter()
    await replay(page, timings)
    wall = time.perf_counter() - t0
    state, clicks = await finish(page)
    return wall, timings, state, clicks


def med(xs):
    return statistics.median(xs) if xs else 0.0


async def main(runs, dump, warmup):
    mapping, data = load_inputs()
    lovs, rows = mandated_counts(mapping, data)
    names = script_names()
    walls = {"fill": [], "recorded": [], "bare": []}
    rec_kinds, bare_kinds = [], []   # per measured run: {kind: seconds}
    rec_outside, bare_outside = [], []
    notes = []
    load_more = set()
    latest = {}  # the most recent recording: its operations, replay and the fill's end state

    def tally(ops, seconds, wall, kinds, outside):
        d = {}
        for op, secs in zip(ops, seconds):
            d[kind_of(op, names)] = d.get(kind_of(op, names), 0.0) + secs
        kinds.append(d)
        outside.append(wall - sum(d.values()))

    async def recorded(browser, label):
        recorder = Recorder()
        wall, state, clicks = await run_fill(browser, recorder)
        load_more.add(clicks)
        ops = recorder.ops
        if latest and signature(ops) != signature(latest["ops"]):
            notes.append(f"{label}: the recorded sequence differs from the previous one")
        if latest and state != latest["state"]:
            notes.append(f"{label}: the recorded fill left another end state than the previous fill")
        replay, src, consts = compile_replay(ops)
        if dump and not latest:
            with open(dump, "w", encoding="utf-8") as fh:
                fh.write("".join(f"C{i} = {c!r}\n" for i, c in enumerate(consts)) + "\n" + src)
        latest.update(ops=ops, replay=replay, state=state)
        return wall, ops

    async def measure(browser, what, r):
        label = f"run {r} {what}"
        if what == "fill":
            wall, state, clicks = await run_fill(browser)
            load_more.add(clicks)
            if latest and state != latest["state"]:
                notes.append(f"{label}: the plain fill left another end state than the recorded one")
        elif what == "recorded":
            wall, ops = await recorded(browser, label)
            tally(ops, [o.seconds for o in ops], wall, rec_kinds, rec_outside)
        else:
            ops = latest["ops"]
            wall, timings, state, clicks = await run_bare(browser, latest["replay"])
            load_more.add(clicks)
            if state != latest["state"]:
                notes.append(f"{label}: the bare replay left another end state than the fill")
            mism = [(i, ops[i].error, err) for i, _, err in timings if err != ops[i].error]
            if mism:
                i, was, now = mism[0]
                notes.append(f"{label}: {len(mism)} replayed operations ended otherwise than "
                             f"recorded, e.g. #{i} {ops[i].kind()}: {was} -> {now}")
            tally([ops[i] for i, _, _ in timings], [s for _, s, _ in timings], wall,
                  bare_kinds, bare_outside)
        walls[what].append(wall)
        return wall

    async with async_playwright() as pw:
        browser = await pw.chromium.launch(executable_path=CHROMIUM, headless=True, args=CHROMIUM_ARGS)
        try:
            if warmup:  # also the first recording, so that a run may replay before it records
                wall, ops = await recorded(browser, "warm-up")
                print(f"warm-up (recorded fill, not counted): {wall:7.3f} s, {len(ops)} page "
                      f"operations, {sum(1 for o in ops if o.error)} of them raised", flush=True)
            order = ["fill", "recorded", "bare"]
            for r in range(1, runs + 1):
                line = {}
                for what in order[(r - 1) % 3:] + order[:(r - 1) % 3]:  # each goes first in turn
                    if what == "bare" and not latest:
                        continue  # no recording yet: replayed after this run's recorded fill
                    line[what] = await measure(browser, what, r)
                if "bare" not in line:
                    line["bare"] = await measure(browser, "bare", r)
                print(f"run {r}: " + "   ".join(f"{k} {line[k]:7.3f} s" for k in order), flush=True)
        finally:
            await browser.close()

    clicks = max(load_more)
    if len(load_more) > 1:
        notes.append(f"load-more clicks differed between runs: {sorted(load_more)}")
    mand = mandated_ms(lovs, rows, clicks) / 1000
    fills, recs, bares = walls["fill"], walls["recorded"], walls["bare"]
    f, rc, b = med(fills), med(recs), med(bares)
    print(f"\nWhole demo form, {runs} runs, medians (min-max); headless Chromium {CHROMIUM}")
    print(f"  popup LOV fills {lovs}, grid rows {rows}, load-more clicks {clicks}")
    print(f"  {'fill (plain page)':<34}{f:8.3f} s  ({min(fills):.3f}-{max(fills):.3f})")
    print(f"  {'fill through the recording proxy':<34}{rc:8.3f} s  ({min(recs):.3f}-{max(recs):.3f})")
    print(f"  {'bare Playwright replay':<34}{b:8.3f} s  ({min(bares):.3f}-{max(bares):.3f})")
    print(f"  {'mandated pauses':<34}{mand:8.3f} s  (LOV {lovs} x {LOV_OPEN_MS}+{LOV_CLOSE_WAIT_MS}"
          f"+{IDLE_PAUSE_MS}+{LOV_END_MS} ms, {clicks} x {LOAD_MORE_MS} ms, rows {rows} x "
          f"{ROW_ADD_MS}+{ROW_SAVE_MS} ms)")
    print(f"  ratio fill / bare replay   {f / b:6.3f}   (excess {f - b:+.3f} s)")
    print(f"  ratio fill / mandated      {f / mand:6.3f}   (excess {f - mand:+.3f} s)")
    print(f"  ratio bare / mandated      {b / mand:6.3f}   (excess {b - mand:+.3f} s)")

    kinds = []
    for d in rec_kinds + bare_kinds:
        kinds += [k for k in d if k not in kinds]
    ops = {k: 0 for k in kinds}
    for o in latest.get("ops", []):
        ops[kind_of(o, names)] += 1
    print("\n  where the time goes, median seconds per run (recorded fill vs bare replay):")
    print(f"    {'operation kind':<62}{'n':>4}{'fill':>9}{'bare':>9}{'fill-bare':>10}")
    for k in sorted(kinds, key=lambda k: -med([d.get(k, 0.0) for d in rec_kinds])):
        fr = med([d.get(k, 0.0) for d in rec_kinds])
        br = med([d.get(k, 0.0) for d in bare_kinds])
        print(f"    {k:<62}{ops[k]:>4}{fr:9.3f}{br:9.3f}{fr - br:+10.3f}")
    fo, bo = med(rec_outside), med(bare_outside)
    print(f"    {'outside page operations (bridge, C++, retry sleeps, Python)':<62}{'':>4}"
          f"{fo:9.3f}{bo:9.3f}{fo - bo:+10.3f}")
    print(f"    {'wall time (median)':<62}{sum(ops.values()):>4}{rc:9.3f}{b:9.3f}{rc - b:+10.3f}")
    for n in notes:
        print("  note:", n)
    if not notes:
        print("  replay checks: same operation sequence every run; the bare replay and both fills "
              "left the same end state (items and saved grid rows); every replayed operation "
              "raised or not as recorded")


if __name__ == "__main__":
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--no-warmup", action="store_true", help="skip the uncounted first recorded fill")
    ap.add_argument("--dump-replay", metavar="FILE", help="write the first bare replay script to FILE")
    args = ap.parse_args()
    asyncio.run(main(max(1, args.runs), args.dump_replay, not args.no_warmup))
