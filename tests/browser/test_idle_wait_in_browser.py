"""The APEX idle wait in real Chromium against the stand-in page's indicators: it returns
after a lingering indicator clears, gives up at its limit, ignores pages without APEX, and
lets cancellation through. Assertions are on order, with loose lower bounds only."""
import asyncio
import pathlib
import time

import pytest

from ziveviver import vexocontrole as vc

# Records, on the page's clock, when the last processing indicator left the page.
WATCH = """() => {
  window.__cleared = null;
  const busy = () => document.querySelectorAll('.u-Processing, .is-processing').length > 0;
  new MutationObserver(() => { if (!busy() && window.__cleared === null) window.__cleared = performance.now(); })
    .observe(document.body, {childList: true, subtree: true, attributes: true, attributeFilter: ['class']});
}"""

BUSY_NOW = "document.querySelectorAll('.u-Processing, .is-processing').length"


def indicator(run, page, ms, kind="spinner"):
    """Starts an indicator for ms and counts indicators in the same script, so a slow
    round trip cannot see it already gone."""
    if kind == "spinner":
        start = "__zv.busy(ms);"
    else:  # an element that takes the other class for a while
        start = """const el = document.getElementById('P1_NOME');
          el.classList.add('is-processing');
          setTimeout(() => el.classList.remove('is-processing'), ms);"""
    assert run(page.evaluate("(ms) => { " + start + " return " + BUSY_NOW + "; }", ms)) == 1


def timed(run, coro):
    t0 = time.monotonic()
    assert run(coro) is None
    return time.monotonic() - t0


@pytest.mark.parametrize("kind", ["spinner", "class"])
def test_returns_after_the_indicator_clears_and_a_pause(form, run, kind):
    run(form.evaluate(WATCH))
    indicator(run, form, 1200, kind)
    timed(run, vc.fCtApexWaitStable(form, 8000))
    assert run(form.evaluate(BUSY_NOW)) == 0
    cleared, now = run(form.evaluate("[window.__cleared, performance.now()]"))
    assert cleared is not None and now - cleared >= 250  # the pause comes after the clear


def test_gives_up_at_its_limit_plus_the_pause_without_error(form, run):
    indicator(run, form, 60000)
    took = timed(run, vc.fCtApexWaitStable(form, 600))
    assert run(form.evaluate(BUSY_NOW)) == 1  # returned while the page was still busy
    assert took >= 0.85


def test_a_page_without_apex_is_never_waited_for(open_form, run):
    page = open_form("noapex=1")
    indicator(run, page, 60000)
    timed(run, vc.fCtApexWaitStable(page, 20000))
    assert run(page.evaluate(BUSY_NOW)) == 1


def test_method_form_waits_on_the_controllers_page(form, run):
    saved = vc.gDebugDev, vc.objfLog
    try:
        ctl = vc.VexoControleApex(form, False)
        indicator(run, form, 1200)
        run(ctl.fCtApexWaitStable())
        assert run(form.evaluate(BUSY_NOW)) == 0
    finally:
        vc.gDebugDev, vc.objfLog = saved


def test_cancellation_during_the_wait_goes_through(form, run):
    indicator(run, form, 60000)

    async def go():
        task = asyncio.ensure_future(vc.fCtApexWaitStable(form, 20000))
        await asyncio.sleep(0.4)
        task.cancel()
        try:
            await task
        except asyncio.CancelledError:
            pass
        return task

    task = run(go())
    assert task.cancelled()
    assert run(form.evaluate(BUSY_NOW)) == 1  # it did not wait on for the indicator


def test_a_request_in_flight_is_waited_for_before_its_indicator_shows(form, run):
    # APEX puts up a request's indicator only 200 ms after the request starts; a wait that
    # starts at once sees none, yet the request is still in flight (jQuery counts it)
    assert run(form.evaluate("() => { __zv.request(2000); return apex.jQuery.active; }")) == 1
    assert run(vc.fCtApexWaitStable(form, 8000)) is None
    assert run(form.evaluate("[__zv.requestsDone, apex.jQuery.active]")) == [[1], 0]


IDLE_JS = (pathlib.Path(__file__).resolve().parents[2] / "native" / "vexocontrole" / "scripts"
           / "apex_idle.js").read_text(encoding="utf-8")


@pytest.mark.parametrize("setup, idle", [
    ("", True),                                                        # not an APEX page
    ("window.jQuery = {active: 2};", True),                            # jQuery, but no APEX
    ("window.apex = {};", True),                                       # APEX without jQuery
    ("window.apex = {}; busy();", False),                              # ... showing an indicator
    ("window.apex = {jQuery: {active: 0}};", True),
    ("window.apex = {jQuery: {active: 1}};", False),                   # a request in flight
    ("window.apex = {jQuery: {active: 0}}; busy();", False),
    ("window.apex = {}; window.jQuery = {active: 1};", False),         # the page's own jQuery
    ("window.apex = {jQuery: {}};", True),                             # a jQuery without the counter
])
def test_idle_script_counts_requests_in_flight_where_jquery_is(browser, run, setup, idle):
    page = run(browser.new_page())
    try:
        run(page.set_content("<div id='x'></div><script>const busy = () => "
                             "document.getElementById('x').className = 'u-Processing';"
                             + setup + "</script>"))
        assert run(page.evaluate(IDLE_JS)) is idle
    finally:
        run(page.close())
