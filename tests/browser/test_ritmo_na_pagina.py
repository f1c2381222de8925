"""The adaptive pacing in real Chromium where its signals are missing or slow: a page without
APEX (the stand-in with ?noapex=1, a plain HTML form) ends every pause point with the literal
pause and its log line, never hanging; a slow server (?latencia=1500) is waited for page by
page."""
import asyncio
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from pagefaults import Pauses  # noqa: E402
from ziveviver import ritmo  # noqa: E402
from ziveviver import vexocontrole as vc  # noqa: E402

LIMIT = 60  # seconds; only a hang reaches it
GRID = {"TitInserir": {"WebSel": "#TIT_ADD"}, "TIT_NOME": {"WebSel": "#P2_TIT_NOME", "ColTipo": "text"},
        "TitGravar": {"WebSel": "#TIT_SAVE"}}
PLAIN_FORM = """<form>
  <button type="button" id="TIT_ADD" onclick="document.getElementById('ED').hidden = false">+</button>
  <div id="ED" hidden><input id="P2_TIT_NOME"></div>
  <button type="button" id="TIT_SAVE">Gravar</button>
</form>"""


@pytest.fixture
def adaptive():
    with ritmo.adaptativo():
        yield


def bounded(run, coro):
    return run(asyncio.wait_for(coro, LIMIT))


def fallbacks(log):
    return [m.split(" -> Ritmo adaptativo: ")[1] for m in log.messages("info") if "Ritmo adaptativo" in m]


@pytest.fixture(params=["noapex", "plain"])
def signalless(request, open_form, new_page, run):
    """A page without APEX's signals: the stand-in without window.apex, or a plain form."""
    if request.param == "noapex":
        yield open_form("noapex=1")
        return
    page = run(new_page())
    run(page.set_content(PLAIN_FORM))
    yield page
    run(page.close())


@pytest.mark.usefixtures("adaptive")
def test_page_without_apex_ends_every_pause_with_the_literal_one(signalless, run, log):
    page = Pauses(signalless)
    assert bounded(run, vc.fCtApexWaitStable(page)) is None
    assert bounded(run, vc.VexoControleApex(page, True).fPreencGridTitular(GRID, [{"TIT_NOME": "Ana"}])) is None
    assert page.ms == [300, 1200, 1800]
    assert fallbacks(log) == [f"{p} sem sinal da página; segue o ritmo literal"
                              for p in ("espera_estavel", "grelha_inserir", "grelha_gravar")]
    assert not [m for m in log.messages("error") if "Erro ao gravar" in m]  # the row went through


@pytest.mark.usefixtures("adaptive")
def test_popup_lov_without_apex_fails_as_literal_after_its_literal_pauses(open_form, run, log):
    page = Pauses(open_form("noapex=1"))
    with pytest.raises(Exception, match="apex is not defined"):
        bounded(run, vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "105"))
    assert page.ms == [1800] * 3
    assert fallbacks(log) == ["lov_aberto sem sinal da página; segue o ritmo literal"] * 3


@pytest.mark.usefixtures("adaptive")
def test_slow_server_each_page_of_the_popup_is_waited_for(open_form, run, log):
    page = Pauses(open_form("latencia=1500"))
    run(page.evaluate("""() => {
      window.__loadMore = 0;
      const click = HTMLElement.prototype.click;
      HTMLElement.prototype.click = function () {
        if (this.matches('.a-GV-loadMoreButton')) window.__loadMore += 1;
        return click.call(this);
      };
    }"""))
    assert bounded(run, vc.fCtApexPreencPopupLovId(page, "#P1_PROFISSAO", "145")) is None
    assert run(page.evaluate("[__zv.value('P1_PROFISSAO'), __zv.display('P1_PROFISSAO'), window.__loadMore]")) == [
        "145", "Militar", 2]  # one click per page: each waited for its rows
    assert page.ms == [] and fallbacks(log) == []
