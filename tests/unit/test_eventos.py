"""Fill events (ziveviver.eventos) on the recording page: what a whole-form fill tells its
observer and in which order, how a field, a row or a section that fails ends, an observer that
stops the program, and that the observer belongs to the context: two fills at once in one process each
see only their own events, and nothing is delivered outside the block. The field fills are
recorders; the dispatcher, the whole-form fill and the grids are the real ones."""
import asyncio
import copy

import pytest

from fakepage import FakePage, TimeoutError
from recording_form import DATA, MAPPING, install_recording_fills
from ziveviver import eventos

KEYS = {
    "secao_inicio": {"secao"},
    "secao_fim": {"secao", "resultado", "erro", "duracao_ms"},
    "campo_inicio": {"secao", "linha", "coluna", "seletor", "tipo"},
    "campo_fim": {"secao", "linha", "coluna", "seletor", "tipo", "resultado", "erro", "duracao_ms"},
    "linha_inicio": {"secao", "linha", "total"},
    "linha_gravada": {"secao", "linha", "total", "resultado", "erro", "duracao_ms"},
    "linha_ignorada": {"secao", "linha", "total", "resultado", "erro", "duracao_ms"},
    "pausa": {"ponto", "planeado_ms", "gasto_ms", "ritmo"},
}


@pytest.fixture
def fills(vc):
    install_recording_fills(vc)


def fill_observed(run, page, data, mapping=None, fails=None):
    """Runs the whole-form fill inside observar(); (events, the exception it ended with)."""
    from ziveviver import vexocontrole as vc

    events = []

    async def go():
        with eventos.observar(events.append):
            await vc.VexoControleApex(page, False).fCtPreencTodoForm(
                copy.deepcopy(mapping or MAPPING), data)

    try:
        run(go())
    except (Exception, SystemExit) as e:  # noqa: BLE001 - the test looks at it
        return events, e
    return events, None


def brief(e):
    """The event without its measured duration: what it is and where."""
    if e["evento"] == "pausa":
        return ("pausa", e["ponto"], e["planeado_ms"], e["ritmo"])
    out = [e["evento"], e["secao"]]
    if "linha" in e and e["linha"] is not None:
        out.append(e["linha"])
    if "coluna" in e:
        out.append(e["coluna"])
    if e.get("resultado") not in (None, "ok"):
        out += [e["resultado"], e["erro"]]
    return tuple(out)


def test_a_whole_form_fill_tells_every_section_field_and_row_in_order(vc, fills, page, run):
    page.on("wait_for_selector", selector="#TIT_ADD:not([disabled])", raises=TimeoutError("15000 ms"), times=1)
    events, error = fill_observed(run, page, copy.deepcopy(DATA))
    assert error is None
    assert [brief(e) for e in events] == [
        ("secao_inicio", "Formulario"),
        ("campo_inicio", "Formulario", "A"), ("campo_fim", "Formulario", "A"),
        ("campo_inicio", "Formulario", "B"), ("campo_fim", "Formulario", "B"),
        ("secao_fim", "Formulario"),
        ("secao_inicio", "Representantes"),
        ("campo_inicio", "Representantes", "R"), ("campo_fim", "Representantes", "R"),
        ("secao_fim", "Representantes"),
        ("secao_inicio", "Titulares"),
        ("linha_inicio", "Titulares", 1),
        ("linha_ignorada", "Titulares", 1, "erro", "TimeoutError: 15000 ms"),
        ("linha_inicio", "Titulares", 2),
        ("pausa", "grelha_inserir", 1200, "literal"),
        ("campo_inicio", "Titulares", 2, "T"), ("campo_fim", "Titulares", 2, "T"),
        ("campo_inicio", "Titulares", 2, "U"), ("campo_fim", "Titulares", 2, "U"),
        ("pausa", "grelha_gravar", 1800, "literal"),
        ("linha_gravada", "Titulares", 2),
        ("secao_fim", "Titulares"),
        ("secao_inicio", "Beneficiarios"),
        ("linha_inicio", "Beneficiarios", 1),
        ("pausa", "grelha_inserir", 1200, "literal"),
        ("campo_inicio", "Beneficiarios", 1, "N"), ("campo_fim", "Beneficiarios", 1, "N"),
        ("pausa", "grelha_gravar", 1800, "literal"),
        ("linha_gravada", "Beneficiarios", 1),
        ("secao_fim", "Beneficiarios"),
    ]
    for e in events:
        assert set(e) - {"evento"} == KEYS[e["evento"]], e
        for key in ("duracao_ms", "gasto_ms"):
            if key in e:
                assert isinstance(e[key], float) and e[key] >= 0
    fields = [e for e in events if e["evento"] == "campo_fim"]
    assert [(e["seletor"], e["tipo"], e["linha"]) for e in fields] == [
        ("#A", "text", None), ("#B", "textarea", None), ("#R", "text", None), ("#T", "text", 2),
        ("#U", "dropdownlist", 2), ("#N", "text", 1)]
    assert {e["total"] for e in events if e["evento"] == "linha_inicio" and e["secao"] == "Titulares"} == {2}
    # a section's time covers its fields'
    sections = {e["secao"]: e["duracao_ms"] for e in events if e["evento"] == "secao_fim"}
    assert sections["Formulario"] >= sum(e["duracao_ms"] for e in fields if e["secao"] == "Formulario")


@pytest.mark.parametrize("where, change, raised, tail", [
    ("field", lambda d: d.update(B="FALHA"), RuntimeError,
     [("campo_fim", "Formulario", "B", "erro", "RuntimeError: item recusou o valor"),
      ("secao_fim", "Formulario", "erro", "RuntimeError: item recusou o valor")]),
    ("representative", lambda d: d["Representantes"].update(R="FALHA"), RuntimeError,
     [("campo_fim", "Representantes", "R", "erro", "RuntimeError: item recusou o valor"),
      ("secao_fim", "Representantes", "erro", "RuntimeError: item recusou o valor")]),
    # a failing cell asks the process to exit: the row and the section end with it
    ("grid cell", lambda d: d["Titulares"][0].update(T="FALHA"), SystemExit,
     [("campo_fim", "Titulares", 1, "T", "erro", "RuntimeError: item recusou o valor"),
      ("linha_ignorada", "Titulares", 1, "erro", "SystemExit: 1"),
      ("secao_fim", "Titulares", "erro", "SystemExit: 1")]),
])
def test_what_fails_ends_its_field_row_and_section_and_goes_on_unchanged(vc, page, run, where, change,
                                                                         raised, tail):
    failure = RuntimeError("item recusou o valor")
    install_recording_fills(vc, fails=failure)
    data = copy.deepcopy(DATA)
    change(data)
    events, error = fill_observed(run, page, data)
    assert [brief(e) for e in events[-len(tail):]] == tail  # and nothing after them
    assert type(error) is raised
    if raised is RuntimeError:
        assert error is failure  # the very exception the fill raised, not a copy


def test_a_grid_cell_of_a_kind_the_grids_do_not_fill_is_ignored(vc, fills, page, run):
    mapping = copy.deepcopy(MAPPING)
    mapping["Titulares"]["U"]["ColTipo"] = "radio"
    events, error = fill_observed(run, page, copy.deepcopy(DATA), mapping)
    assert error is None
    cells = [(e["linha"], e["coluna"], e["resultado"]) for e in events
             if e["evento"] == "campo_fim" and e["secao"] == "Titulares"]
    assert cells == [(1, "T", "ok"), (1, "U", "ignorado"), (2, "T", "ok"), (2, "U", "ignorado")]
    assert "#U" not in [sel for sel, _ in page.calls("fill")]


def test_an_observer_that_stops_the_program_is_not_swallowed(vc, fills, page, run):
    class Stop(BaseException):
        pass

    def stopping(event):
        if event["evento"] == "campo_fim":
            raise Stop()

    async def go():
        with eventos.observar(stopping):
            await vc.VexoControleApex(page, False).fCtPreencTodoForm(copy.deepcopy(MAPPING), copy.deepcopy(DATA))

    with pytest.raises(Stop):
        run(go())
    assert [sel for sel, _ in page.calls("fill")] == ["#A"]


def test_two_fills_at_once_each_see_only_their_own_events(vc, fills, run):
    """Two controllers over two pages, gathered in one event loop, each inside its own observar
    block: their page steps interleave, their events do not mix."""
    order = []

    def form_of(tag):
        mapping = {f"{tag}{i}": {"WebSel": f"#{tag}{i}", "ColTipo": "text"} for i in range(4)}
        mapping["Titulares"] = {"TitInserir": {"WebSel": f"#{tag}_ADD"},
                                f"{tag}T": {"WebSel": f"#{tag}T", "ColTipo": "text"},
                                "TitGravar": {"WebSel": f"#{tag}_SAVE"}}
        data = {f"{tag}{i}": i for i in range(4)}
        data.update(RepAtivarPreenc=0, Titulares=[{f"{tag}T": "x"}, {f"{tag}T": "y"}])
        return mapping, data

    async def one(tag):
        events = []
        page = FakePage()
        page.on("click", call=lambda sel, kw: order.append(tag))
        mapping, data = form_of(tag)

        def observe(event):
            order.append(tag)
            events.append(event)

        with eventos.observar(observe):
            await vc.VexoControleApex(page, False).fCtPreencTodoForm(mapping, data)
        return events

    async def both():
        return await asyncio.gather(one("X"), one("Y"))

    x_events, y_events = run(both())
    for tag, events in (("X", x_events), ("Y", y_events)):
        fields = [e["seletor"] for e in events if e["evento"] == "campo_inicio"]
        assert fields == [f"#{tag}{i}" for i in range(4)] + [f"#{tag}T", f"#{tag}T"]
        assert [e["evento"] for e in events].count("linha_gravada") == 2
    # the two fills really ran at the same time
    first_y = order.index("Y")
    assert "X" in order[first_y:] and order[:first_y].count("X") < len(x_events)


def test_events_reach_tasks_started_in_the_block_and_stop_at_its_end(vc, fills, run):
    inner, outer = [], []

    async def fill_form():
        await vc.VexoControleApex(FakePage(), False).fCtPreencTodoForm(copy.deepcopy(MAPPING), copy.deepcopy(DATA))

    async def go():
        with eventos.observar(outer.append):
            with eventos.observar(inner.append):
                await asyncio.create_task(fill_form())
            seen_by_outer = len(outer)
        await fill_form()  # nobody observes any more
        return seen_by_outer

    assert run(go()) == 36  # nested blocks: the outer one is told too
    assert len(inner) == 36 and outer == inner


def test_nested_observers_both_receive_and_one_that_fails_is_detached_alone(vc, fills, page, run):
    outer, inner, failing = [], [], []

    def breaks(event):
        failing.append(event["evento"])
        if event["evento"] == "campo_fim":
            raise ValueError("falhou")

    async def go():
        with eventos.observar(outer.append):
            with eventos.observar(breaks):
                with eventos.observar(inner.append):
                    await vc.VexoControleApex(page, False).fCtPreencTodoForm(
                        copy.deepcopy(MAPPING), copy.deepcopy(DATA))

    with pytest.warns(eventos.ObservadorFalhou, match=r"\(ValueError: falhou\) e foi desligado") as warned:
        run(go())
    assert len(warned) == 1
    assert len(outer) == 36 and inner == outer
    assert failing == ["secao_inicio", "campo_inicio", "campo_fim"]
    inner[0]["mexido"] = True  # each observer has its own record
    assert "mexido" not in outer[0]


@pytest.mark.parametrize("pacing", ["literal", "adaptativo"])
def test_every_pause_of_a_popup_lov_fill_is_told_planned_against_spent(vc, page, run, pacing):
    from ziveviver import ritmo

    page.on("evaluate", {"success": True, "foundId": "105", "foundDisp": "Advogado"})
    events = []

    async def go():
        with ritmo.definir(pacing), eventos.observar(events.append):
            await vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "105")

    run(go())
    assert [brief(e) for e in events] == [
        ("pausa", "lov_aberto", 1800, pacing), ("pausa", "lov_fechado", 5000, pacing),
        ("pausa", "espera_estavel", 300, pacing), ("pausa", "lov_assente", 1000, pacing)]
    assert all(isinstance(e["gasto_ms"], float) and e["gasto_ms"] >= 0 for e in events)
