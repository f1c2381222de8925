"""Item discovery when APEX's registry (apex.items) holds only some of the page's items (items
never created through apex.item.create, plug-ins): the mapping still takes every item of the
page, in page order, each either mapped or left out with its reason."""
import pathlib

from ziveviver import vexoconferencia as cf

FORM_URL = (pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo" / "form.html").as_uri()


def test_a_registry_holding_half_the_items_still_maps_every_item(new_page, run, quiet):
    page = run(new_page())
    run(page.goto(FORM_URL))
    full = run(cf.fCtMapearPagina(page))
    dropped = run(page.evaluate(
        "Object.keys(apex.items).filter((k, i) => i % 2).map((k) => { delete apex.items[k]; return k; })"))
    assert len(dropped) >= 10
    half = run(cf.fCtMapearPagina(page))

    assert [r["item"] for r in half["itens"]] == [r["item"] for r in full["itens"]]
    assert {r["item"]: r["destino"] for r in half["itens"]} == {r["item"]: r["destino"] for r in full["itens"]}
    assert [cfg["WebSel"] for cfg in half["mapa"].values()] == [cfg["WebSel"] for cfg in full["mapa"].values()]
    assert all(r["destino"] != "fora" or r["motivo"] for r in half["itens"])
    run(page.close())
