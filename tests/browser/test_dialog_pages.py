"""Forms in a modal dialog page (the stand-in's "Novo": the form in an iframe of a dialog built
in the top window, its popup LOVs' dialogs built in the top document), filled through the
dialog page's Frame: the bundled demo mapping (under the adaptive pacing), read back by the receipt with
the never-submit guard up, the dialog left open; a popup LOV fill that fails leaves its item as
it was and its dialog closed; a dialog left open over the form is never clicked through."""
import json
import pathlib

import pytest

from ziveviver import vexoconferencia as cf
from ziveviver import vexocontrole as vc

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"

# What the top document shows: the popup dialogs open (by the item they describe), the
# overlays of popups, and the dialog pages closed.
TOP_STATE = """() => ({
  open: Array.from(document.querySelectorAll('.ui-dialog-popuplov'))
    .filter((d) => d.style.display !== 'none').map((d) => d.getAttribute('aria-describedby')),
  overlays: document.querySelectorAll('.ui-widget-overlay:not(.zv-dialogOverlay)').length,
  closed: window.__zvDialogos.fechados,
})"""


def demo(name):
    return json.loads((DEMO_DIR / name).read_text(encoding="utf-8"))


def values(run, frame, *items):
    return run(frame.evaluate("(ids) => ids.map((id) => window.__zv.value(id))", list(items)))


# Under the adaptive pacing: the whole form in the dialog page under the literal one is
# test_whole_form_in_browser's.
@pytest.mark.parametrize("ritmo", ["adaptativo"], indirect=True)
def test_demo_mapping_lands_whole_through_the_dialog_page(dialog_form, run, quiet, ritmo):
    mapa, dados = demo("mapa.json"), demo("dados.json")

    async def go():
        await cf.fCtAtivarGuarda(dialog_form)
        await vc.VexoControleApex(dialog_form).fCtPreencTodoForm(json.loads(json.dumps(mapa)), dados)
        held = await cf.fCtDesativarGuarda(dialog_form)
        return held, await cf.fCtConferirForm(dialog_form, mapa, dados)

    held, rows = run(go())
    assert held == []
    not_equal = [(r["secao"], r["coluna"], r["linha"], r["estado"]) for r in rows if r["estado"] != "igual"]
    # only the cells the data leaves blank (holders 2 and 3 have no profession)
    assert not_equal == [("Titulares", "TIT_PROFISSAO", 2, "vazio"), ("Titulares", "TIT_PROFISSAO", 3, "vazio")]
    assert len(rows) > 30
    by = {(r["coluna"], r["linha"]): r for r in rows}
    # the grid-display popup LOV, its row on the third page
    assert (by[("AGENCIA", None)]["obtido"], by[("AGENCIA", None)]["exibido"]) == ("341", "Porto Centro")
    # every popup closed where it was built; the dialog page still open (no stray Escape)
    page = dialog_form.page
    assert run(page.evaluate(TOP_STATE)) == {"open": [], "overlays": 0, "closed": []}


@pytest.mark.usefixtures("ritmo")
def test_failed_popup_fill_leaves_its_item_as_it_was_and_its_dialog_closed(dialog_form, run, quiet):
    with pytest.raises(Exception, match='Item com data-id="999" nao encontrado'):
        run(vc.fCtApexPreencPopupLovId(dialog_form, "#P1_AGENCIA", "999"))
    assert values(run, dialog_form, "P1_AGENCIA", "P1_BANCO", "P1_PROFISSAO") == ["", "", ""]
    assert run(dialog_form.page.evaluate(TOP_STATE)) == {"open": [], "overlays": 0, "closed": []}


@pytest.mark.usefixtures("ritmo")
def test_a_popup_left_open_over_the_form_is_never_clicked_through(dialog_form, run, quiet):
    page = dialog_form.page
    # the bank's popup, opened by the user and left open: its dialog covers the form
    run(dialog_form.click("#P1_BANCO_lov_btn"))
    run(page.wait_for_selector(".ui-dialog-popuplov .a-IconList-item"))
    with pytest.raises(Exception):
        run(vc.fCtApexPreencPopupLovId(dialog_form, "#P1_PROFISSAO", "105"))
    # nothing set, the profession's popup never opened, the bank's left as the user left it
    assert values(run, dialog_form, "P1_PROFISSAO", "P1_BANCO") == ["", ""]
    assert run(dialog_form.evaluate("window.__zv.calls.length")) == 0
    assert run(page.evaluate(TOP_STATE)) == {"open": ["PopupLov_2_P1_BANCO_dlg"], "overlays": 1, "closed": []}


def test_the_form_is_found_in_the_innermost_dialog_page(dialog_form, run):
    from dialog_pages import open_dialog

    from ziveviver.executor import frames

    page = dialog_form.page
    mapa, dados = demo("mapa.json"), demo("dados.json")
    outer = run(frames.form_frame(page, mapa, dados, write=lambda _line: None))
    # the dialog page's own "Novo" opens a second dialog page, built in the top window too
    inner = run(open_dialog(page, dialog_form))
    found = run(frames.form_frame(page, mapa, dados, write=lambda _line: None))
    named = run(frames.form_frame(page, mapa, dados, quadro="#apex_dialog_1 iframe"))
    assert (outer, found, named) == (dialog_form, inner, dialog_form) and inner != dialog_form
    assert inner.parent_frame == page.main_frame
