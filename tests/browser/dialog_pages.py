"""The stand-in form opened as a modal dialog page: the demo folder served under an HTTP
origin of the test's own (a route of the page, so that the dialog page's iframe is of the top
window's origin, as APEX's are), the top page's "Novo" clicked, and the dialog page's Frame
handed over once its APEX is ready. POSTs are answered 200 and noted."""
import mimetypes
import pathlib
from urllib.parse import urlsplit

DEMO_DIR = pathlib.Path(__file__).resolve().parents[2] / "src" / "ziveviver" / "demo"
ORIGIN = "http://zv.test"
READY = "window.__zv && window.__zv.ready === true"


async def serve_demo(page, posts=None):
    """Serves the demo folder at ORIGIN to `page`; POSTs go into `posts` as (path, frame url)."""
    async def handler(route, request):
        path = urlsplit(request.url).path.lstrip("/")
        if request.method == "POST":
            if posts is not None:
                posts.append((path, request.frame.url))
            await route.fulfill(status=200, body="ok")
            return
        file = DEMO_DIR / path
        if not file.is_file():
            await route.fulfill(status=404, body="nada")
            return
        await route.fulfill(status=200, body=file.read_bytes(),
                            content_type=mimetypes.guess_type(path)[0] or "text/plain")

    await page.route(ORIGIN + "/**", handler)


async def open_dialog(page, opener=None):
    """Clicks "Novo" (the page's, or that of `opener`, a dialog page's frame) and gives the new
    (innermost) dialog page's Frame, ready."""
    before = await page.locator(".ui-dialog--apex iframe").count()
    await (opener or page).click("#NOVO")
    frame_el = page.locator(".ui-dialog--apex iframe").nth(before)
    handle = await frame_el.element_handle()
    frame = await handle.content_frame()
    await frame.wait_for_function(READY)
    return frame


async def open_form_in_dialog(page, posts=None, query=""):
    """The stand-in form at ORIGIN in `page`, with one dialog page open: its Frame."""
    await serve_demo(page, posts)
    await page.goto(f"{ORIGIN}/form.html" + (("?" + query) if query else ""))
    await page.wait_for_function(READY)
    return await open_dialog(page)
