"""The holders and beneficiaries grids when they are Interactive Grids (the stand-in's IG page,
form_ig.html): every cell kind lands in the new row and both records are saved under both
pacings, with no click that cannot land waited for and no fallback taken; the receipt reads
the grid through its model; a mapping written from the page holds the grids' sections."""
import json
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from pagefaults import Pauses  # noqa: E402
from ziveviver import vexoconferencia as cf  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
IG_URL = (DEMO_DIR / "form_ig.html").as_uri()

# The bundled example of a form whose grids are Interactive Grids: the holders' buttons named by
# their data-action, the beneficiaries' by their text.
MAPA = json.loads((DEMO_DIR / "mapa_ig.json").read_text(encoding="utf-8"))
DADOS = json.loads((DEMO_DIR / "dados_ig.json").read_text(encoding="utf-8"))
HOLDERS, BENEFICIARIES = MAPA["Titulares"], MAPA["Beneficiarios"]
TITULARES, BENEFICIARIOS = DADOS["Titulares"], DADOS["Beneficiarios"]
SAVED_HOLDERS = [
    {"NOME": "Ana Lima", "NASCIMENTO": "03/04/1985", "TIPO": {"v": "PRI", "d": "Principal"},
     "PROFISSAO": {"v": "103", "d": "Médico"}, "VINCULO": {"v": "SOC", "d": "Sócio"}},
    {"NOME": "Rui Costa", "NASCIMENTO": "21/11/1979", "TIPO": {"v": "COT", "d": "Cotitular"},
     "PROFISSAO": {"v": "145", "d": "Militar"}, "VINCULO": {"v": "DEP", "d": "Dependente"}},
]


def fresh(obj):
    return json.loads(json.dumps(obj))


@pytest.fixture
def open_ig(open_url):
    return lambda query="": open_url(IG_URL, query,
                                     "window.__zv && window.__zv.ready === true && !!window.__zv.ig")


@pytest.fixture
def ig(open_ig):
    return open_ig()


def js(run, page, expr, arg=None):
    return run(page.evaluate(expr, arg))


def fill(run, page, mapa, dados):
    ctl = vc.VexoControleApex(page, True)
    run(ctl.fCtPreencTodoForm(fresh(mapa), fresh(dados)))


def fallbacks(log):
    return [m for m in log.messages("info") if "segue o ritmo literal" in m]


def test_every_kind_lands_and_both_holders_are_saved(ig, run, log, ritmo):
    page = Pauses(ig)
    fill(run, page, {"Titulares": HOLDERS, "Beneficiarios": BENEFICIARIES},
         {"RepAtivarPreenc": 0, "Titulares": TITULARES, "Beneficiarios": BENEFICIARIOS})

    saved = js(run, ig, "window.__zv.saved.ig")
    assert saved["titulares"] == SAVED_HOLDERS
    assert saved["beneficiarios"] == [{"NOME": "Lia Costa", "PARENTESCO": {"v": "FILHO", "d": "Filho(a)"},
                                       "PERCENTUAL": "100"}]
    state = js(run, ig, "['titulares', 'beneficiarios'].map((g) => [__zv.ig[g].pedidos, __zv.ig[g].alterado()])")
    assert state == [[2, False], [1, False]]  # one save request per record, nothing left unsaved
    # No click waited for an element it could not reach: no attempt failed, no fill gave up, the
    # check box was ticked by its label (its script way writes the group through setValue).
    assert [m for m in log.messages("warning") if "RETRY" in m or "Saida 4" in m or "nao encontrado" in m] == []
    assert [m for m in log.messages("error")] == []
    if ritmo == "adaptativo":  # every pause point had the grid's own signal
        assert page.ms == [] and fallbacks(log) == []
    scripted = js(run, ig, "__zv.calls.filter((c) => c.item === 'TIT_VINCULO' && c.args[2] !== true).length")
    assert scripted == 0
    # each holder's cells were activated in the new row, the way a user's click makes them editable
    events = js(run, ig, "__zv.ig.titulares.eventos.filter((e) => e.tipo !== 'mudanca')")
    columns = ["TIT_NOME", "TIT_NASC", "TIT_TIPO", "TIT_PROF", "TIT_VINCULO"]
    one_row = [{"tipo": "inserir"}] + [{"tipo": "ativar", "coluna": c} for c in columns] + [{"tipo": "gravar"}]
    assert [{k: e[k] for k in ("tipo", "coluna") if k in e} for e in events] == one_row * 2


def test_adaptive_pacing_waits_for_the_new_row_to_be_in_edit_mode(open_ig, run, log):
    """A grid that starts editing its new row 700 ms after Add Row: the row's cells are filled
    only then, without a literal pause."""
    from ziveviver import ritmo

    page = Pauses(open_ig("edicaoMs=700"))
    section = {k: HOLDERS[k] for k in ("TitInserir", "TIT_PROFISSAO", "TIT_VINCULO", "TitGravar")}
    with ritmo.adaptativo():
        run(vc.VexoControleApex(page, True).fPreencGridTitular(fresh(section), fresh(TITULARES[:1])))
    saved = js(run, page, "window.__zv.saved.ig.titulares")
    assert saved == [dict(SAVED_HOLDERS[0], NOME="", NASCIMENTO="", TIPO="")]
    assert page.ms == [] and fallbacks(log) == []
    assert [m for m in log.messages("warning") if "nao ativada" in m or "RETRY" in m] == []


def receipt_of(run, page, mapa, dados):
    return [(r["secao"], r["coluna"], r["linha"], r["estado"], r["exibido"])
            for r in run(cf.fCtConferirForm(page, fresh(mapa), fresh(dados)))]


# the grids filled under the adaptive pacing: what is checked here comes after the fill
@pytest.mark.parametrize("ritmo", ["adaptativo"], indirect=True)
def test_the_receipt_reads_the_grid_through_its_model(ig, run, log, ritmo):
    mapa = {"Titulares": HOLDERS, "Beneficiarios": BENEFICIARIES}
    dados = {"RepAtivarPreenc": 0, "Titulares": TITULARES, "Beneficiarios": BENEFICIARIOS}
    fill(run, ig, mapa, dados)
    columns = [c for c in HOLDERS if c not in ("TitInserir", "TitGravar")]
    assert receipt_of(run, ig, mapa, dados) == [("Titulares", "linhas gravadas", None, "igual", None)] + [
        ("Titulares", c, n, "igual", None) for n in (1, 2) for c in columns] + [
        # its buttons named by their text
        ("Beneficiarios", "linhas gravadas", None, "igual", None)] + [
        ("Beneficiarios", c, 1, "igual", None) for c in ("BEN_NOME", "BEN_PARENTESCO", "BEN_PERC")]

    # a value changed in the grid and not saved: the cell and the grid say so
    js(run, ig, """() => {
      const view = apex.region('titulares').widget().interactiveGrid('getViews', 'grid');
      let first = null;
      view.model.forEach((rec) => { first = first || rec; });
      view.model.setValue(first, 'NOME', 'Ana Lima Souza');
    }""")
    got = receipt_of(run, ig, mapa, dados)
    assert got[0] == ("Titulares", "linhas gravadas", None, "diferente", "alterações por gravar")
    assert got[1] == ("Titulares", "TIT_NOME", 1, "diferente", None)


# the grids filled under the adaptive pacing: what is checked here comes after the fill
@pytest.mark.parametrize("ritmo", ["adaptativo"], indirect=True)
def test_the_written_mapping_holds_both_grids_and_fills_them(ig, run, log, ritmo):
    got = run(cf.fCtMapearPagina(ig))
    assert got["problema"] is None
    sections = {g["secao"]: g["esqueleto"][g["secao"]] for g in got["grelhas"]}
    assert [(g["regiao"], g["titulo"], g["secao"]) for g in got["grelhas"]] == [
        ("titulares", "Titulares", "Titulares"), ("beneficiarios", "Beneficiários", "Beneficiarios")]
    assert {c: {k: v for k, v in cfg.items() if k in ("WebSel", "ColTipo")} for c, cfg in sections["Titulares"].items()} == {
        "TitInserir": HOLDERS["TitInserir"], "TIT_NOME": HOLDERS["TIT_NOME"], "TIT_NASC": HOLDERS["TIT_NASC"],
        "TIT_TIPO": HOLDERS["TIT_TIPO"], "TIT_PROF": HOLDERS["TIT_PROFISSAO"], "TIT_VINCULO": HOLDERS["TIT_VINCULO"],
        "TitGravar": HOLDERS["TitGravar"]}
    assert list(sections["Beneficiarios"]) == ["BenInserir", "BEN_NOME", "BEN_PARENTESCO", "BEN_PERC", "BenGravar"]
    assert {i["item"]: i["destino"] for i in got["itens"]}["TIT_PROF"] == "grelha"

    # the sections as written fill both grids
    holders = [{("TIT_PROF" if k == "TIT_PROFISSAO" else k): v for k, v in t.items()} for t in TITULARES]
    fill(run, ig, dict(got["mapa"], **sections),
         dict(got["dados"], Titulares=holders, Beneficiarios=BENEFICIARIOS))
    saved = js(run, ig, "window.__zv.saved.ig")
    assert saved["titulares"] == SAVED_HOLDERS and len(saved["beneficiarios"]) == 1


def test_a_cell_that_truly_fails_still_ends_the_run_with_its_traceback(tmp_path):
    import subprocess

    from test_whole_form_in_browser import CHROMIUM, EXITING_SCRIPT

    first, second = fresh(TITULARES)
    first["TIT_PROFISSAO"] = "987654"  # no row of the popup LOV has this id
    arg = json.dumps([CHROMIUM, IG_URL, HOLDERS, [first, second], "literal", True])
    done = subprocess.run([sys.executable, "-c", EXITING_SCRIPT, arg], capture_output=True, text=True,
                          timeout=180, cwd=tmp_path)
    assert done.returncode == 1, done.stderr
    state, saved = json.loads(done.stdout.splitlines()[-1])
    assert saved["ig"]["titulares"] == []  # the row never saved, the second record never reached
    log = (tmp_path / "debug.log").read_text(encoding="utf-8")
    head = "VexoControleApex -> fPreencGridTitular -> Erro no preenchimento do campo Titular TIT_PROFISSAO: "
    assert head in log and "Traceback (most recent call last):" in log.split(head, 1)[1]
