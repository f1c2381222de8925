"""The never-submit guard against a fake page: which requests it holds back and which it lets
through, what it reports and logs, and how it is raised and lifted."""
import asyncio
import inspect

import pytest

from conferencia_pagina import FakeRoute, RoutingPage
from ziveviver import vexoconferencia as cf

APEX = "https://apex.example.com/ords"


@pytest.fixture
def rpage():
    return RoutingPage()


@pytest.mark.parametrize(
    "method, url, navigation, held",
    [
        # plain form submissions: a POST navigation, whatever its action
        ("POST", f"{APEX}/r/rh/adesao/formulario", True, True),
        ("POST", "file:///c:/forms/enviado.html", True, True),
        ("post", f"{APEX}/wwv_flow.accept", True, True),
        # APEX's page submit by ajax (reload on success only)
        ("POST", f"{APEX}/wwv_flow.accept?p_context=rh/adesao/1234", False, True),
        ("POST", f"{APEX}/r/rh/adesao/accept?session=1234", False, True),
        ("POST", f"{APEX}/r/rh/adesao/ACCEPT#top", False, True),
        # ajax of dynamic actions and popup LOVs, and everything that is not a POST submission
        ("POST", f"{APEX}/wwv_flow.ajax?p_context=rh/adesao/1234", False, False),
        ("POST", f"{APEX}/r/rh/adesao/ajax?session=1234", False, False),
        ("POST", f"{APEX}/r/rh/adesao/accepted", False, False),
        ("POST", f"{APEX}/wwv_flow.accept.js", False, False),
        ("GET", f"{APEX}/wwv_flow.accept?p_context=rh/adesao/1234", True, False),
        ("GET", f"{APEX}/f?p=100:2:1234", True, False),
        ("GET", f"{APEX}/r/rh/files/static/v1/app.js", False, False),
    ],
)
def test_submissions_are_held_and_the_rest_falls_through(run, rpage, method, url, navigation, held):
    async def go():
        retidos = await cf.fCtAtivarGuarda(rpage)
        route = await rpage.request(method, url, navigation)
        return retidos, route

    retidos, route = run(go())
    if held:
        assert route.calls == [("abort", "aborted")]
        assert retidos == [{"url": url, "metodo": method, "navegacao": navigation, "pedido": None}]
    else:
        assert route.calls == [("fallback",)]
        assert retidos == []


@pytest.mark.parametrize(
    "form, pedido",
    [
        ({"p_request": "SUBMIT", "p_flow_id": "100"}, "SUBMIT"),
        ({"p_request": ["SALVAR"]}, "SALVAR"),  # parse_qs style
        ({"p_flow_id": "100"}, None),
        (ValueError("multipart body is not form data or JSON"), None),
        ("SUBMIT", None),
        (None, None),
    ],
)
def test_the_report_names_apexs_request_when_the_body_carries_it(run, rpage, form, pedido):
    async def go():
        retidos = await cf.fCtAtivarGuarda(rpage)
        await rpage.request("POST", f"{APEX}/wwv_flow.accept", True, form)
        return retidos

    assert run(go())[0]["pedido"] == pedido


def test_held_requests_are_logged_as_warnings_and_passing_ones_not_at_all(run, rpage, log):
    async def go():
        await cf.fCtAtivarGuarda(rpage)
        await rpage.request("POST", f"{APEX}/wwv_flow.ajax", False, {"p_request": "PLUGIN=x"})
        await rpage.request("POST", f"{APEX}/wwv_flow.accept", True, {"p_request": "SUBMIT"})
        await rpage.request("POST", f"{APEX}/r/app/form", True)
        await cf.fCtDesativarGuarda(rpage)

    run(go())
    assert log.lines == [
        ("info", "fCtAtivarGuarda -> Guarda ativada: pedidos de submissao serao retidos"),
        ("warning", f"fCtAtivarGuarda -> Submissao retida: POST {APEX}/wwv_flow.accept | p_request=SUBMIT"),
        ("warning", f"fCtAtivarGuarda -> Submissao retida: POST {APEX}/r/app/form"),
        ("info", "fCtDesativarGuarda -> Guarda desativada: 2 pedido(s) de submissao retido(s)"),
    ]


def test_with_debug_off_nothing_is_logged_even_without_a_logger(run, rpage, vc):
    vc.gDebugDev = False
    vc.objfLog = None

    async def go():
        retidos = await cf.fCtAtivarGuarda(rpage)
        await rpage.request("POST", f"{APEX}/wwv_flow.accept", True)
        return retidos, await cf.fCtDesativarGuarda(rpage)

    retidos, out = run(go())
    assert out is retidos and len(out) == 1


def test_raising_twice_keeps_one_route_and_lifting_removes_that_very_handler(run, rpage):
    async def go():
        first = await cf.fCtAtivarGuarda(rpage)
        second = await cf.fCtAtivarGuarda(rpage)
        assert second is first
        routed = [op for op in rpage.ops if op[0] == "route"]
        assert len(routed) == 1 and routed[0][1] == "**/*"
        handler = routed[0][2]["handler"]
        await rpage.request("POST", f"{APEX}/wwv_flow.accept", True)
        out = await cf.fCtDesativarGuarda(rpage)
        unrouted = [op for op in rpage.ops if op[0] == "unroute"]
        assert unrouted == [("unroute", "**/*", {"handler": handler})]
        assert rpage.routes == []
        # lifted: a second lift does nothing and hands back an empty list
        again = await cf.fCtDesativarGuarda(rpage)
        assert again == [] and len([op for op in rpage.ops if op[0] == "unroute"]) == 1
        # after the lift, submissions go through
        route = await rpage.request("POST", f"{APEX}/wwv_flow.accept", True)
        assert route.calls == []
        # raised again: a fresh handler and a fresh list
        fresh = await cf.fCtAtivarGuarda(rpage)
        assert fresh == [] and fresh is not first
        return first, out

    first, out = run(go())
    assert out is first and len(out) == 1


def test_each_page_has_its_own_guard(run):
    a, b = RoutingPage(), RoutingPage()

    async def go():
        ra = await cf.fCtAtivarGuarda(a)
        rb = await cf.fCtAtivarGuarda(b)
        await a.request("POST", f"{APEX}/a", True)
        await cf.fCtDesativarGuarda(a)
        route = await b.request("POST", f"{APEX}/b", True)
        return ra, rb, route

    ra, rb, route = run(go())
    assert [r["url"] for r in ra] == [f"{APEX}/a"]
    assert [r["url"] for r in rb] == [f"{APEX}/b"]
    assert route.calls == [("abort", "aborted")]
    run(cf.fCtDesativarGuarda(b))


def test_the_handler_is_a_two_parameter_coroutine_function_as_playwright_calls_it(run, rpage):
    run(cf.fCtAtivarGuarda(rpage))
    handler = rpage.routes[0][1]
    assert list(inspect.signature(handler).parameters) == ["route", "request"]
    # Playwright awaits what the handler returns when it is awaitable.
    coro = handler(FakeRoute(), None)
    assert inspect.isawaitable(coro)
    coro.close()
    run(cf.fCtDesativarGuarda(rpage))


class Unreadable:
    @property
    def method(self):
        raise RuntimeError("request gone")


def test_a_request_that_cannot_be_read_is_let_through_and_logged(run, rpage, log):
    run(cf.fCtAtivarGuarda(rpage))
    route = FakeRoute()
    run(rpage.routes[0][1](route, Unreadable()))
    assert route.calls == [("fallback",)]
    assert ("error", "fCtAtivarGuarda -> Falha ao examinar pedido: request gone") in log.lines
    run(cf.fCtDesativarGuarda(rpage))


def test_a_failing_abort_is_logged_and_does_not_escape_the_handler(run, rpage, log):
    async def go():
        retidos = await cf.fCtAtivarGuarda(rpage)
        route = await rpage.request("POST", f"{APEX}/wwv_flow.accept", True, route=FakeRoute(RuntimeError("Target closed")))
        return retidos, route

    retidos, route = run(go())
    assert route.calls == [("abort", "aborted")] and len(retidos) == 1
    assert ("error", "fCtAtivarGuarda -> Falha ao tratar pedido: Target closed") in log.lines
    run(cf.fCtDesativarGuarda(rpage))


def test_cancellation_in_the_handler_is_not_swallowed(run, rpage):
    async def go():
        await cf.fCtAtivarGuarda(rpage)
        await rpage.request("POST", f"{APEX}/wwv_flow.accept", True, route=FakeRoute(asyncio.CancelledError()))

    with pytest.raises(asyncio.CancelledError):
        run(go())
    run(cf.fCtDesativarGuarda(rpage))


def test_a_route_that_fails_leaves_no_guard_behind(run, rpage):
    rpage.on("route", raises=RuntimeError("no routing here"), times=1)
    with pytest.raises(RuntimeError, match="no routing here"):
        run(cf.fCtAtivarGuarda(rpage))
    # nothing registered: lifting does nothing, raising again routes
    assert run(cf.fCtDesativarGuarda(rpage)) == []
    assert not [op for op in rpage.ops if op[0] == "unroute"]
    run(cf.fCtAtivarGuarda(rpage))
    assert len(rpage.routes) == 1
    run(cf.fCtDesativarGuarda(rpage))


def test_a_lift_that_fails_on_a_live_page_raises_and_keeps_the_guard(run, rpage):
    run(cf.fCtAtivarGuarda(rpage))
    rpage.on("unroute", raises=RuntimeError("unroute failed"), times=1)
    with pytest.raises(RuntimeError, match="unroute failed"):
        run(cf.fCtDesativarGuarda(rpage))
    # still raised, and a second lift does lift it
    route = run(rpage.request("POST", f"{APEX}/wwv_flow.accept", True))
    assert route.calls == [("abort", "aborted")]
    assert len(run(cf.fCtDesativarGuarda(rpage))) == 1
    assert rpage.routes == []


def test_a_lift_on_a_closed_page_hands_back_what_was_held(run, rpage):
    async def go():
        await cf.fCtAtivarGuarda(rpage)
        await rpage.request("POST", f"{APEX}/wwv_flow.accept", True)

    run(go())
    rpage.closed = True
    rpage.on("unroute", raises=RuntimeError("Target page, context or browser has been closed"))
    out = run(cf.fCtDesativarGuarda(rpage))
    assert [r["url"] for r in out] == [f"{APEX}/wwv_flow.accept"]
    assert run(cf.fCtDesativarGuarda(rpage)) == []


def test_calls_bind_like_python_functions():
    with pytest.raises(TypeError):
        cf.fCtAtivarGuarda()
    with pytest.raises(TypeError):
        cf.fCtDesativarGuarda(RoutingPage(), 1)
    coro = cf.fCtAtivarGuarda(pPage=RoutingPage())
    assert inspect.isawaitable(coro)
    coro.close()
