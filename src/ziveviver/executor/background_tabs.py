"""Tabs that fill while another tab of their window is in front.

Chromium draws only the tab in front of each window. A tab behind still runs its scripts and
timers at full speed (and says it is "visible"), but once its page has something new to
paint (a caret, a typed value, a focus ring) its next frame waits about a second for the
compositor, and so does every requestAnimationFrame. Playwright's actions wait on animation
frames (an element is "stable" when two frames agree), so a click or a text fill there takes
1 to 2 s instead of tens of ms: a whole form, 6 to 8 times as long.

A tab that is being captured is drawn wherever it is. `keep_drawn` starts a capture of the
page (a DevTools screencast) and never takes its frames: after the first ones Chromium stops
sending them, but the capture stays on, and the page is drawn, until the tab closes.
"""
# the smallest picture, and no frames taken: the capture costs next to nothing
_CAPTURE = {"format": "jpeg", "quality": 1, "maxWidth": 1, "maxHeight": 1}


async def keep_drawn(page):
    """Keeps `page` drawn, and so its fills at full speed, while it is not the tab in front of
    its window. Does nothing in a browser without DevTools sessions (only Chromium's tabs need
    it)."""
    try:
        session = await page.context.new_cdp_session(page)
        await session.send("Page.startScreencast", _CAPTURE)
    except Exception:  # noqa: BLE001 - not Chromium, or a tab already closed: nothing to keep drawn
        return False
    return True
