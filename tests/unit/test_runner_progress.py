"""The runner's fill on the recording page: the progress it prints (fields, sections, grid
rows, rows left unsaved), the failures it names, and that watching leaves the whole-form
fill exactly as it is (same page operations, same log lines, same "ColNome" writes, the
module and the controller restored afterwards). The field fills are recorders; the
dispatcher, the whole-form fill and the grids are the real ones."""
import copy
import json

import pytest

from fakepage import FakePage, RecordingLogger, TimeoutError
from recording_form import DATA, MAPPING, install_recording_fills
from ziveviver.executor import progress


@pytest.fixture
def fills(vc):
    """Every field fill replaced by a recorder into the page's ops; the value "FALHA" raises."""
    install_recording_fills(vc)


@pytest.fixture
def recorder(vc):
    """Debug on, every controller's logger (nested ones included) a recording logger."""
    logger = RecordingLogger()

    class Factory:
        @staticmethod
        def fLog(**kwargs):
            return logger

    vc.VexoFuncoes = Factory
    return logger


def fill(run, page, mapping, data, **kw):
    lines = []
    outcome = run(progress.fill_form(page, mapping, data, view=progress.LinesView(lines.append), **kw))
    return outcome, lines


def fields_filled(page):
    return [(sel, kw["value"]) for sel, kw in page.calls("fill")]


def test_progress_follows_fields_sections_and_rows(vc, fills, page, run, capsys):
    page.on("wait_for_selector", selector="#TIT_ADD:not([disabled])", raises=TimeoutError("15000 ms"), times=1)
    outcome, lines = fill(run, page, copy.deepcopy(MAPPING), DATA)
    assert lines == [
        "A preencher 8 campos: 2 do formulário, 1 do representante, 2 linhas de Titulares, "
        "1 linha de Beneficiários.",
        "[1/8] Formulário: A (text)",
        "[2/8] Formulário: B (textarea) (sem valor)",
        "[3/8] Representante: R (text)",
        "Titulares: 2 linhas a preencher",
        "      Titulares: linha 1 de 2...",
        "      Titulares: linha 2 de 2...",
        "[7/8] Titulares: linha 2 de 2 gravada",
        "Beneficiários: 1 linha a preencher",
        "      Beneficiários: linha 1 de 1...",
        "[8/8] Beneficiários: linha 1 de 1 gravada",
    ]
    assert capsys.readouterr().err == (
        "Aviso: Titulares: a linha 1 de 2 não foi gravada (o botão de acrescentar ou de gravar não "
        "respondeu; veja o registo de depuração, com --debug).\n")
    assert (outcome.complete, outcome.error, outcome.unsaved) == (True, None, [("Titulares", 1)])
    # the row that could not start was never filled; the field after the sections never is
    assert fields_filled(page) == [("#A", "a"), ("#B", ""), ("#R", "r"), ("#T", "t2"), ("#U", ""),
                                   ("#N", "n1")]


def test_a_row_whose_save_fails_is_reported_unsaved(vc, fills, page, run, capsys):
    page.on("click", selector="#BEN_SAVE", raises=TimeoutError("click"))
    outcome, lines = fill(run, page, copy.deepcopy(MAPPING), DATA)
    assert lines[-1] == "      Beneficiários: linha 1 de 1..."
    assert outcome.complete and outcome.unsaved == [("Beneficiários", 1)]
    assert "Beneficiários: a linha 1 de 1 não foi gravada" in capsys.readouterr().err


def comparable(lines):
    """Log lines with the exceptions they carry as their type and text (each run raises its own)."""
    return [tuple(repr(x) if isinstance(x, BaseException) else x for x in line) for line in lines]


def broken_observer(event):
    raise ValueError("observador avariado")


FILL_CASES = {
    "complete": lambda d, page: None,
    "field fails": lambda d, page: d.update(B="FALHA"),
    "row not added": lambda d, page: page.on("wait_for_selector", selector="#TIT_ADD:not([disabled])",
                                             raises=TimeoutError("15000 ms"), times=1),
    "grid cell fails": lambda d, page: d["Titulares"][1].update(T="FALHA"),
}


@pytest.mark.parametrize("case", FILL_CASES)
@pytest.mark.parametrize("observer", ["runner", "broken"])
def test_observing_leaves_the_whole_form_fill_unchanged(vc, fills, recorder, run, case, observer):
    """The same page operations, log lines and "ColNome" writes as the plain whole-form fill,
    whether the fill completes or stops, watched by the runner or by an observer that raises;
    nothing of the module or the controller is replaced while it runs."""
    from ziveviver import eventos

    plain_page, watched_page = FakePage(), FakePage()
    plain_map, watched_map = copy.deepcopy(MAPPING), copy.deepcopy(MAPPING)
    plain_data, watched_data = copy.deepcopy(DATA), copy.deepcopy(DATA)
    FILL_CASES[case](plain_data, plain_page)
    FILL_CASES[case](watched_data, watched_page)
    real_dispatch = vc.fCtApexIdentTipoCampoPreenc
    module_during_fill = []
    watched_page.on("click", call=lambda sel, kw: module_during_fill.append(
        vc.fCtApexIdentTipoCampoPreenc is real_dispatch))

    async def plain_fill(page, mapping, data):
        try:
            await vc.VexoControleApex(page, True).fCtPreencTodoForm(mapping, data)
        except (Exception, SystemExit) as e:  # noqa: BLE001 - compared, not hidden
            return type(e)
        return None

    plain_end = run(plain_fill(plain_page, plain_map, plain_data))
    plain_log = list(recorder.lines)
    recorder.lines.clear()
    if observer == "runner":
        controllers = []
        outcome, _ = fill(run, watched_page, watched_map, watched_data, debug=True, controller_out=controllers)
        assert outcome.complete is (plain_end is None)
        assert controllers[0].page is watched_page
        assert not vars(controllers[0]).keys() - {"page"}
    else:
        calls = []

        def broken(event):
            calls.append(event)
            broken_observer(event)

        with pytest.warns(eventos.ObservadorFalhou) as warned:
            with eventos.observar(broken):
                assert run(plain_fill(watched_page, watched_map, watched_data)) is plain_end
        assert [str(w.message) for w in warned] == [
            "o observador de eventos falhou (ValueError: observador avariado) e foi desligado; o "
            "preenchimento continua"]
        assert len(calls) == 1  # detached after the first event

    assert watched_page.ops == plain_page.ops
    assert comparable(recorder.lines) == comparable(plain_log)
    assert any("fCtPreencTodoForm -> configs recebidos" in m for _, m in recorder.lines)
    assert watched_map == plain_map  # the same "ColNome" entries
    assert watched_map["A"]["ColNome"] == "A" and "ColNome" not in watched_map["DEPOIS"]
    assert vc.fCtApexIdentTipoCampoPreenc is real_dispatch
    assert module_during_fill and all(module_during_fill) or plain_page.calls("click") == []


@pytest.mark.parametrize("change, error, last_fill, saved_rows", [
    (lambda d: d.update(B="FALHA"),
     'o preenchimento parou no campo "B" (textarea, #B): RuntimeError: item recusou o valor',
     ("#B", "FALHA"), 0),
    (lambda d: d["Representantes"].update(R="FALHA"),
     'o preenchimento parou no campo "R" (text, #R): RuntimeError: item recusou o valor',
     ("#R", "FALHA"), 0),
    # a grid cell ends the run (exit status 1 inside the grid); its row stays unsaved
    (lambda d: d["Titulares"][1].update(T="FALHA"),
     "uma célula da linha 2 de Titulares falhou e o preenchimento parou (a linha não foi gravada).",
     ("#T", "FALHA"), 1),
], ids=["field", "representative", "grid cell"])
def test_a_failure_names_where_the_fill_stopped(vc, fills, page, run, change, error, last_fill, saved_rows):
    real_dispatch = vc.fCtApexIdentTipoCampoPreenc
    data = copy.deepcopy(DATA)
    change(data)
    outcome, _ = fill(run, page, copy.deepcopy(MAPPING), data)
    assert (outcome.complete, outcome.error) == (False, error)
    assert fields_filled(page)[-1] == last_fill
    assert [sel for sel, _ in page.calls("click")].count("#TIT_SAVE") == saved_rows
    assert vc.fCtApexIdentTipoCampoPreenc is real_dispatch


def test_the_bar_on_a_terminal_shows_fields_done_and_the_time_left(vc, fills, page, run):
    """The same fill with the live bar: the plan's line, then one redrawn bar that ends with
    every field done; no per-field lines."""
    import io

    from rich.console import Console

    out = io.StringIO()
    console = Console(file=out, force_terminal=True, width=120, color_system=None)
    outcome = run(progress.fill_form(page, copy.deepcopy(MAPPING), copy.deepcopy(DATA),
                                     view=progress.BarView(console)))
    assert outcome.complete
    text = out.getvalue()
    assert text.startswith("A preencher 8 campos: 2 do formulário, 1 do representante")
    assert "8/8" in text and "faltam" in text
    assert "\x1b[2K" in text or "\r" in text  # redrawn in place, not line after line
    assert "[1/8]" not in text


def event_stream():
    """What a fill with one text field, one popup LOV and one grid row tells its observer."""
    def field(col, kind, ms, row=None, section="Formulario"):
        where = {"secao": section, "linha": row, "coluna": col, "seletor": "#" + col, "tipo": kind}
        return [dict(where, evento="campo_inicio"), ms,
                dict(where, evento="campo_fim", resultado="ok", erro=None, duracao_ms=ms)]

    def pause(point, planned, spent):
        return {"evento": "pausa", "ponto": point, "planeado_ms": planned, "gasto_ms": spent, "ritmo": "literal"}

    lov = field("PROF", "PopupLovId", 4000.0)
    lov[1:1] = [pause("lov_aberto", 1800, 1801.0), pause("espera_estavel", 300, 450.0)]
    cell = field("T", "text", 100.0, row=1, section="Titulares")
    row = {"secao": "Titulares", "linha": 1, "total": 1}
    events = ([{"evento": "secao_inicio", "secao": "Formulario"}] + field("NOME", "text", 200.0) + lov
              + [{"evento": "secao_fim", "secao": "Formulario", "resultado": "ok", "erro": None,
                  "duracao_ms": 4210.0},
                 {"evento": "secao_inicio", "secao": "Titulares"}, dict(row, evento="linha_inicio"),
                 pause("grelha_inserir", 1200, 1200.5)] + cell
              + [pause("grelha_gravar", 1800, 1800.5),
                 dict(row, evento="linha_gravada", resultado="ok", erro=None, duracao_ms=3300.0),
                 {"evento": "secao_fim", "secao": "Titulares", "resultado": "ok", "erro": None,
                  "duracao_ms": 3305.0}])
    return [e for e in events if isinstance(e, dict)]


def test_the_profile_adds_up_kinds_pauses_and_grid_buttons(tmp_path):
    from ziveviver.executor import profile

    prof = profile.Profile()
    for event in event_stream():
        prof(event)
    d = prof.as_dict(wall_ms=7600.0)
    assert d["tipos"] == [
        {"tipo": "text", "n": 2, "operacoes_ms": 300.0, "pausas_ms": 0.0, "total_ms": 300.0},
        {"tipo": "popuplovid", "n": 1, "operacoes_ms": 1749.0, "pausas_ms": 2251.0, "total_ms": 4000.0},
        {"tipo": profile.BUTTONS, "n": 1, "operacoes_ms": 199.0, "pausas_ms": 3001.0, "total_ms": 3200.0},
        {"tipo": profile.REST, "n": None, "operacoes_ms": 15.0, "pausas_ms": 0.0, "total_ms": 15.0},
    ]
    assert d["pausas"] == [
        {"ponto": "lov_aberto", "n": 1, "planeado_ms": 1800, "gasto_ms": 1801.0},
        {"ponto": "espera_estavel", "n": 1, "planeado_ms": 300, "gasto_ms": 450.0},
        {"ponto": "grelha_inserir", "n": 1, "planeado_ms": 1200, "gasto_ms": 1200.5},
        {"ponto": "grelha_gravar", "n": 1, "planeado_ms": 1800, "gasto_ms": 1800.5},
    ]
    assert (d["total_ms"], d["parede_ms"]) == (7515.0, 7600.0)
    # the kinds' totals are the sections' time: nothing counted twice, nothing lost
    assert sum(k["total_ms"] for k in d["tipos"]) == d["total_ms"]
    lines = profile.table(prof, 7600.0).splitlines()
    assert lines[0] == "Perfil do preenchimento:"
    assert lines[3].split() == ["popuplovid", "1", "1.75", "s", "2.25", "s", "4.00", "s"]
    assert lines[-1] == "  total: 7.51 s contados nos eventos, 7.60 s de relógio (98.9 %)"
    path = tmp_path / "sub" / "perfil.json"
    profile.write(prof, 7600.0, path)
    assert json.loads(path.read_text(encoding="utf-8")) == d


@pytest.mark.parametrize("value, ok", [(True, True), ("p.json", True), ("P.JSON", True), ("p.csv", False),
                                       ("p", False)])
def test_a_profile_file_must_be_json(value, ok):
    from ziveviver.executor import cli, profile

    if ok:
        profile.check_path(value)
    else:
        with pytest.raises(cli.InputError, match="--perfil: use um ficheiro .json"):
            profile.check_path(value)


def test_the_commands_fill_under_the_pacing_they_are_given(vc, fills, page, run):
    """guarded_fill (what preencher and demo run) sets --ritmo for the fill only, and its profile
    counts every grid pause."""
    from ziveviver import ritmo
    from ziveviver.executor import fill as filling

    seen = []

    async def text(pPage, pWebSel, value, *rest):
        seen.append(ritmo.atual())

    vc.fCtPreencText = text
    filled = run(filling.guarded_fill(page, copy.deepcopy(MAPPING), copy.deepcopy(DATA), guard=False,
                                      pacing="adaptativo", perfil=True, view=progress.LinesView([].append)))
    assert filled.outcome.complete and filled.held == []
    assert seen == ["adaptativo"] * 5 and ritmo.atual() == "literal"  # A, R, T twice, N
    pauses = filled.profile.as_dict(filled.outcome.wall_ms)["pausas"]
    assert [(p["ponto"], p["n"], p["planeado_ms"]) for p in pauses] == [
        ("grelha_inserir", 3, 3600), ("grelha_gravar", 3, 5400)]


def test_a_summary_of_one_says_it_in_the_singular():
    from ziveviver.executor.progress import Plan

    one = {"A": {"WebSel": "#A", "ColTipo": "text"}}
    assert Plan(one, {"A": "x", "RepAtivarPreenc": 0}).summary() == "A preencher 1 campo: 1 do formulário."
