"""The holders and beneficiaries grids on the recording page: the add / fill / save cycle
per record, the nested controller the cells go through, the five cell kinds, the debug
lines, a failing row (logged, skipped) and a failing cell (logged with its traceback, then
exit status 1)."""
import asyncio
import pathlib
import types

import pytest

from fakepage import TimeoutError
from scripts_of import TimelineLogger

ROOT = pathlib.Path(__file__).resolve().parents[2]

GRIDS = {
    "holders": dict(
        method="fPreencGridTitular", add="TitInserir", save="TitGravar",
        add_sel="#TIT_ADD", save_sel="#TIT_SAVE",
        config="VexoControleApex -> fPreencGridTitular -> configs recebidos: ",
        prefix="VexoControleApex -> fPreencGridTitular -> ",
        progress="VexoControleApex -> fPreencGridTitular -> Processando Titular PF/Proprietário ",
        cell="VexoControleApex -> fPreencGridTitular -> Erro no preenchimento do campo Titular ",
        row="VexoControleApex -> fPreencGridTitular -> Erro ao gravar Titular ",
    ),
    "beneficiaries": dict(
        method="fPreencGridBeneficiario", add="BenInserir", save="BenGravar",
        add_sel="#BEN_ADD", save_sel="#BEN_SAVE",
        config="VexoControleApex -> fPreencGridBeneficiario-> configs recebidos: ",
        prefix="VexoControleApex -> fPreencGridBeneficiario -> ",
        progress="VexoControleApex -> fPreencGridBeneficiario -> Processando beneficiario ",
        cell="VexoControleApex -> fPreencGridBeneficiario -> Erro preenchimento campo Beneficiario ",
        row="VexoControleApex -> fPreencGridBeneficiario -> Erro ao gravar Beneficiario ",
    ),
}

CELL_METHODS = ["fCtPreencText", "fCtPreencDatepicker", "fCtApexPreencDropDownList",
                "fCtPreencCheckMultiple", "fCtApexPreencPopupLovId"]


@pytest.fixture(params=list(GRIDS))
def grid(request):
    return types.SimpleNamespace(name=request.param, **GRIDS[request.param])


def mapping(g, **columns):
    """A grid section: the add button, the given columns, the save button."""
    m = {g.add: {"WebSel": g.add_sel}}
    m.update(columns)
    m[g.save] = {"WebSel": g.save_sel}
    return m


def col(sel, tipo="text"):
    return {"WebSel": sel, "ColTipo": tipo}


class Nested:
    """What the grid builds its nested controller from: records its construction and
    every cell method call into the page's timeline. `fail` maps a selector to the
    exception its cell raises."""

    def __init__(self, vc, page):
        self.made = []
        self.fail = {}
        rec = self

        class SpyController(vc.VexoControleApex):
            def __init__(self, pg, flag):
                rec.made.append((pg, flag))
                self.page = pg

        def method(name):
            async def cell(self, pWebSel, pDbCampoValue, *more, **kw):
                page.ops.append(("cell", name, (pWebSel, pDbCampoValue) + more, kw))
                if pWebSel in rec.fail:
                    raise rec.fail[pWebSel]
            return cell

        for name in CELL_METHODS:
            setattr(SpyController, name, method(name))
        vc.VexoControleApex = SpyController


@pytest.fixture
def ctl(vc, page):
    return vc.VexoControleApex(page)


@pytest.fixture
def nested(vc, page, ctl):
    return Nested(vc, page)


@pytest.fixture
def tl(vc, page, ctl):
    lg = TimelineLogger(page)
    vc.gDebugDev, vc.objfLog = True, lg
    return lg


def fill(vc, g, ctl, m, data):
    return getattr(ctl, g.method)(m, data)


def row_ops(g, *cells):
    add = [("wait_for_selector", g.add_sel + ":not([disabled])", {"timeout": 15000}),
           ("click", g.add_sel, {}),
           ("wait_for_timeout", None, {"args": (1200,)})]
    save = [("wait_for_selector", g.save_sel + ":not([disabled])", {"timeout": 10000}),
            ("click", g.save_sel, {}),
            ("wait_for_timeout", None, {"args": (1800,)})]
    return add + [("cell", name, args, {}) for name, args in cells] + save


def non_log(page):
    return [op for op in page.ops if op[0] != "log"]


def logs(page):
    return [(op[1], op[2]) for op in page.ops if op[0] == "log"]


# ------------------------------------------------------------------ normal rows

def test_each_record_adds_fills_and_saves_a_row(vc, grid, nested, ctl, page, run):
    m = mapping(grid,
                NOME=col("#NOME"), NASC=col("#NASC", "datepicker"), TIPO=col("#TIPO", "dropdownlist"),
                VINC=col("#VINC", "checkboxmultiple"), PROF=col("#PROF", "popuplovid"),
                OBS=col("#OBS", "Text"), DATA=col("#DATA", "date"), RADIO=col("#RADIO", "radio"),
                AREA=col("#AREA", "textarea"), MULTI=col("#MULTI", "multiselect"),
                AUTO=col("#AUTO", "autocomplete"), DP=col("#DP", "DatePicker"))
    data = [
        {"NOME": "Ana", "NASC": "01/02/1980", "TIPO": "PRI", "VINC": "1", "PROF": "104", "OBS": "x"},
        {"NOME": "Rui", "TIPO": 7, "PROF": None},  # missing columns give ""
    ]
    assert run(fill(vc, grid, ctl, m, data)) is None
    assert non_log(page) == row_ops(
        grid, ("fCtPreencText", ("#NOME", "Ana")), ("fCtPreencDatepicker", ("#NASC", "01/02/1980")),
        ("fCtApexPreencDropDownList", ("#TIPO", "PRI")), ("fCtPreencCheckMultiple", ("#VINC", "1")),
        ("fCtApexPreencPopupLovId", ("#PROF", "104")),
    ) + row_ops(
        grid, ("fCtPreencText", ("#NOME", "Rui")), ("fCtPreencDatepicker", ("#NASC", "")),
        ("fCtApexPreencDropDownList", ("#TIPO", 7)), ("fCtPreencCheckMultiple", ("#VINC", "")),
        ("fCtApexPreencPopupLovId", ("#PROF", None)),
    )
    # one nested controller over the same page, with the module's flag
    assert len(nested.made) == 1
    assert nested.made[0][0] is page and nested.made[0][1] is False


def test_empty_list_touches_no_page(vc, grid, nested, ctl, page, run):
    run(fill(vc, grid, ctl, mapping(grid, NOME=col("#NOME")), []))
    assert page.ops == [] and len(nested.made) == 1


def test_buttons_only_mapping_adds_and_saves_an_empty_row_per_record(vc, grid, nested, ctl, page, run):
    run(fill(vc, grid, ctl, mapping(grid), [{"X": 1}, {}]))
    assert non_log(page) == row_ops(grid) + row_ops(grid)


def test_cells_go_through_the_real_nested_controller_to_the_module_fills(vc, grid, ctl, page, run):
    seen = []

    def spy(name):
        async def f(*args):
            seen.append((name,) + args)
        return f

    for name in CELL_METHODS:
        setattr(vc, name, spy(name))
    m = mapping(grid, NOME=col("#NOME"), PROF=col("#PROF", "popuplovid"))
    run(fill(vc, grid, ctl, m, [{"NOME": "Ana", "PROF": "104"}]))
    assert seen == [("fCtPreencText", page, "#NOME", "Ana", 5000),
                    ("fCtApexPreencPopupLovId", page, "#PROF", "104", 5000)]


# ------------------------------------------------------------------ debug lines

def test_debug_lines_exactly(vc, grid, nested, ctl, tl, page, run):
    m = mapping(grid, NOME=col("#NOME"), NASC=col("#NASC", "datepicker"))
    data = [{"NOME": "Ana", "NASC": "01/02/1980"}, {"NOME": "O'Hara"}]
    shown_m, shown_d = str(m), str(data)
    run(fill(vc, grid, ctl, m, data))
    p = grid.prefix

    def row(i, nome, nasc):
        return [
            ("info", f"{grid.progress}{i}/2"),
            ("info", f"{p}dbCampo='NOME', dbCampoValue={nome!r}, webSel='#NOME', webConfig['ColTipo']='text'"),
            ("info", f"{p}dbCampo='NASC', dbCampoValue={nasc!r}, webSel='#NASC', webConfig['ColTipo']='datepicker'"),
            ("info", " "), ("info", p + "pWebConfig {'WebSel': '#NOME', 'ColTipo': 'text'}"),
            ("info", p + "WebSel #NOME"), ("info", p + "dbCampo NOME"),
            ("info", p + "pDbCampoValue " + nome), ("info", " "),
            ("info", " "), ("info", p + "pWebConfig {'WebSel': '#NASC', 'ColTipo': 'datepicker'}"),
            ("info", p + "WebSel #NASC"), ("info", p + "dbCampo NASC"),
            ("info", p + "pDbCampoValue " + nasc), ("info", " "),
        ]

    assert logs(page) == [
        ("info", "-------------------------------"),
        ("info", grid.config + shown_m),
        ("info", p + "data recebida: " + shown_d),
    ] + row(1, "Ana", "01/02/1980") + row(2, "O'Hara", "")
    assert nested.made[0][1] is True
    # the listing comes after the add pause, each cell's trace right before the cell
    kinds = ["L" if op[0] == "log" else op[0] for op in page.ops[3:]]
    first_row = (["L", "wait_for_selector", "click", "wait_for_timeout", "L", "L"]
                 + ["L"] * 6 + ["cell"] + ["L"] * 6 + ["cell"]
                 + ["wait_for_selector", "click", "wait_for_timeout"])
    assert kinds[:len(first_row)] == first_row


def test_debug_off_logs_nothing(vc, grid, nested, ctl, page, run):
    from fakepage import RecordingLogger
    rec = RecordingLogger()
    vc.objfLog = rec
    page.on("wait_for_selector", raises=TimeoutError("t"), times=1)
    run(fill(vc, grid, ctl, mapping(grid, NOME=col("#NOME")), [{"NOME": "a"}, {"NOME": "b"}]))
    assert rec.lines == []
    assert [op for op in page.ops if op[0] == "cell"] == [("cell", "fCtPreencText", ("#NOME", "b"), {})]


# ------------------------------------------------------------------ row failures

@pytest.mark.parametrize("debug", [True, False])
def test_add_button_timeout_abandons_the_row_and_goes_on(vc, grid, nested, ctl, page, run, debug):
    lg = TimelineLogger(page)
    vc.gDebugDev, vc.objfLog = debug, lg
    late = TimeoutError("Timeout 15000ms exceeded.")
    page.on("wait_for_selector", raises=late, selector=grid.add_sel + ":not([disabled])", times=1)
    m = mapping(grid, NOME=col("#NOME"))
    run(fill(vc, grid, ctl, m, [{"NOME": "a"}, {"NOME": "b"}]))
    assert non_log(page) == [row_ops(grid)[0]] + row_ops(grid, ("fCtPreencText", ("#NOME", "b")))
    errors = [line for line in lg.lines if line[0] in ("error", "exc_info")]
    if debug:
        assert errors == [("error", grid.row + "1: Timeout 15000ms exceeded."), ("exc_info", late)]
    else:
        assert errors == []


def test_save_failure_leaves_the_row_unsaved(vc, grid, nested, ctl, tl, page, run):
    page.on("click", raises=RuntimeError("botão sumiu"), selector=grid.save_sel, times=1)
    run(fill(vc, grid, ctl, mapping(grid, NOME=col("#NOME")), [{"NOME": "a"}, {"NOME": "b"}]))
    ops = non_log(page)
    assert ops[:6] == row_ops(grid, ("fCtPreencText", ("#NOME", "a")))[:6]
    assert ops[6:] == row_ops(grid, ("fCtPreencText", ("#NOME", "b")))
    assert ("error", grid.row + "1: botão sumiu") in tl.lines


def test_section_without_its_add_entry_fails_every_row_before_any_click(vc, nested, ctl, tl, page, run):
    g = types.SimpleNamespace(**GRIDS["beneficiaries"])
    m = {"TitInserir": {"WebSel": "#BEN_ADD"}, "NOME": col("#NOME"), "TitGravar": {"WebSel": "#BEN_SAVE"}}
    run(fill(vc, g, ctl, m, [{"NOME": "a"}, {"NOME": "b"}]))
    assert non_log(page) == []
    errors = [m for lv, m in tl.lines if lv == "error"]
    assert errors == [g.row + "1: 'BenInserir'", g.row + "2: 'BenInserir'"]
    assert [type(e) for lv, e in tl.lines if lv == "exc_info"] == [KeyError, KeyError]


@pytest.mark.parametrize("debug", [True, False])
def test_non_dictionary_entry_is_a_row_failure(vc, grid, nested, ctl, page, run, debug):
    lg = TimelineLogger(page)
    vc.gDebugDev, vc.objfLog = debug, lg
    m = mapping(grid, NOME=col("#NOME"), SOLTO="#SOLTO")
    run(fill(vc, grid, ctl, m, [{"NOME": "a"}, {"NOME": "b"}]))
    cells = [op for op in page.ops if op[0] == "cell"]
    clicks = [op[1] for op in page.ops if op[0] == "click"]
    if debug:  # the listing pass meets it before any cell
        assert cells == [] and clicks == [grid.add_sel, grid.add_sel]
        assert [m for lv, m in lg.lines if lv == "error"] == [
            grid.row + "1: string indices must be integers, not 'str'",
            grid.row + "2: string indices must be integers, not 'str'"]
    else:  # filled, not saved
        assert [c[2][1] for c in cells] == ["a", "b"] and clicks == [grid.add_sel, grid.add_sel]
        assert lg.lines == []


def test_record_that_is_not_a_dictionary_is_a_row_failure(vc, grid, nested, ctl, tl, page, run):
    run(fill(vc, grid, ctl, mapping(grid, NOME=col("#NOME")), ["texto", {"NOME": "b"}]))
    assert [op[2] for op in page.ops if op[0] == "cell"] == [("#NOME", "b")]
    assert [m for lv, m in tl.lines if lv == "error"] == [grid.row + "1: 'str' object has no attribute 'get'"]


def test_missing_coltype_is_a_row_failure_in_debug_mode(vc, grid, nested, ctl, tl, page, run):
    run(fill(vc, grid, ctl, mapping(grid, NOME={"WebSel": "#NOME"}), [{"NOME": "a"}]))
    assert [op[0] for op in non_log(page)] == ["wait_for_selector", "click", "wait_for_timeout"]
    assert [m for lv, m in tl.lines if lv == "error"] == [grid.row + "1: 'ColTipo'"]


@pytest.mark.parametrize("abort", [asyncio.CancelledError, KeyboardInterrupt])
def test_cancellation_during_a_row_is_not_a_row_failure(vc, grid, nested, ctl, tl, page, run, abort):
    page.on("wait_for_timeout", raises=abort(), times=1)
    with pytest.raises(abort):
        run(fill(vc, grid, ctl, mapping(grid, NOME=col("#NOME")), [{"NOME": "a"}, {"NOME": "b"}]))
    assert [lv for lv, _ in tl.lines if lv == "error"] == []
    assert [op[0] for op in non_log(page)] == ["wait_for_selector", "click", "wait_for_timeout"]


def test_failures_outside_the_rows_reach_the_caller(vc, grid, nested, ctl, tl, page, run):
    with pytest.raises(TypeError):
        run(fill(vc, grid, ctl, mapping(grid), 5))
    with pytest.raises(TypeError):  # debug mode needs the number of records
        run(fill(vc, grid, ctl, mapping(grid), (r for r in [{}])))
    assert non_log(page) == []


# ------------------------------------------------------------------ cell failures

def raise_in_cell(nested, sel, exc):
    nested.fail[sel] = exc


def test_cell_failure_logs_the_traceback_and_exits_with_status_1(vc, grid, nested, ctl, tl, page, run):
    boom = ValueError("item travado")
    raise_in_cell(nested, "#TIPO", boom)
    m = mapping(grid, NOME=col("#NOME"), TIPO=col("#TIPO", "dropdownlist"), NASC=col("#NASC", "datepicker"))
    with pytest.raises(SystemExit) as ex:
        run(fill(vc, grid, ctl, m, [{"NOME": "a", "TIPO": "X"}, {"NOME": "b"}]))
    assert ex.value.code == 1
    # no save, no later cell, no later record
    cells = [(op[1], op[2]) for op in page.ops if op[0] == "cell"]
    assert cells == [("fCtPreencText", ("#NOME", "a")), ("fCtApexPreencDropDownList", ("#TIPO", "X"))]
    assert [op[1] for op in page.ops if op[0] == "click"] == [grid.add_sel]
    errors = [(lv, m) for lv, m in tl.lines if lv in ("error", "exc_info")]
    assert len(errors) == 2 and errors[1] == ("exc_info", boom)
    line = errors[0][1]
    head = grid.cell + "TIPO: item travado "
    assert line.startswith(head)
    tb = line[len(head):]
    # the real traceback of the failing cell, as traceback.format_exc() gives it
    assert tb.startswith("Traceback (most recent call last):\n")
    assert 'in cell\n    raise rec.fail[pWebSel]' in tb
    assert tb.endswith("ValueError: item travado\n")
    assert not any(m.startswith(grid.row) for lv, m in tl.lines if lv == "error")


def test_a_failing_cpp_fill_is_named_in_the_logged_traceback(vc, grid, ctl, tl, page, run, no_sleep):
    # The real popup LOV fill through the nested controller (built without a logger of its
    # own, so that its lines come here): the row search finds no row, three times.
    class Quiet(vc.VexoControleApex):
        def __init__(self, pg, flag):
            self.page = pg

    vc.VexoControleApex = Quiet
    page.on("evaluate", call=lambda sel, kw: {"success": False, "error": "Sem linha"} if kw["args"] else True)
    with pytest.raises(SystemExit) as ex:
        run(fill(vc, grid, ctl, mapping(grid, PROF=col("#PROF", "popuplovid")), [{"PROF": "999"}]))
    assert ex.value.code == 1
    errors = [m for lv, m in tl.lines if lv in ("error", "exc_info")]
    head = grid.cell + "PROF: Sem linha "
    tb = next(m[len(head):] for m in errors if isinstance(m, str) and m.startswith(head))
    failure = errors[-1]
    assert type(failure) is Exception and str(failure) == "Sem linha"
    # One entry per coroutine the error came through, from the grid down to the raise.
    assert tb.startswith("Traceback (most recent call last):\n") and tb.endswith("Exception: Sem linha\n")
    chain = []
    t = failure.__traceback__
    while t is not None:
        chain.append((t.tb_frame.f_code.co_qualname, t.tb_frame.f_code.co_filename, t.tb_lineno))
        t = t.tb_next
    assert [q for q, _, _ in chain] == [
        "VexoControleApex." + grid.method, "VexoControleApex.fCtApexPreencPopupLovId",
        "fCtApexPreencPopupLovId", "fCtRetry", "fCtApexPreencPopupLovId.<locals>.action"]
    for qualname, file, line in chain:
        name = qualname.rpartition(".")[2]
        assert f'  File "{file}", line {line}, in {name}\n' in tb
    def source(entry):
        _, file, line = entry
        return file, (ROOT / file).read_text(encoding="utf-8").splitlines()[line - 1]

    # the raise itself, and the fill's own await of the retry (the entry's line moved out of
    # the C++ helper task the error first came through)
    assert source(chain[-1])[0] == "native/vexocontrole/fills/lov_id.cpp" and "raise_new(" in source(chain[-1])[1]
    assert source(chain[2])[0] == "native/vexocontrole/fills/lov_id.cpp" and "co_await retry(action);" in source(chain[2])[1]


def test_cell_failure_with_debug_off_exits_silently_through_the_modules_sys(vc, grid, nested, ctl, page, run):
    from fakepage import RecordingLogger
    rec = RecordingLogger()
    vc.objfLog = rec
    codes = []

    def exit(code):
        codes.append(code)
        raise SystemExit(code)

    vc.sys = types.SimpleNamespace(exit=exit)
    raise_in_cell(nested, "#NOME", KeyError("k"))
    with pytest.raises(SystemExit):
        run(fill(vc, grid, ctl, mapping(grid, NOME=col("#NOME")), [{"NOME": "a"}]))
    assert codes == [1] and rec.lines == []


def test_missing_coltype_in_normal_mode_ends_the_run(vc, grid, nested, ctl, page, run):
    with pytest.raises(SystemExit) as ex:
        run(fill(vc, grid, ctl, mapping(grid, NOME={"WebSel": "#NOME"}), [{"NOME": "a"}, {"NOME": "b"}]))
    assert ex.value.code == 1
    assert [op[1] for op in page.ops if op[0] == "click"] == [grid.add_sel]


@pytest.mark.parametrize("abort", [KeyboardInterrupt, SystemExit])
def test_non_ordinary_exceptions_of_a_cell_are_not_taken_as_failures(vc, grid, nested, ctl, tl, page, run, abort):
    raise_in_cell(nested, "#NOME", abort())
    with pytest.raises(abort):
        run(fill(vc, grid, ctl, mapping(grid, NOME=col("#NOME")), [{"NOME": "a"}, {"NOME": "b"}]))
    assert [lv for lv, _ in tl.lines if lv == "error"] == []
    assert [op[2] for op in page.ops if op[0] == "cell"] == [("#NOME", "a")]
