"""Which frame of a tab holds the form. APEX opens most edit forms as modal dialog pages: a
dialog in the top window holding an iframe with the form's page, whose items the top page
does not have. The commands fill, check and map the frame this module finds: the one
``--quadro SELETOR`` names; else the open dialog page (the innermost, when one dialog opened
another) that holds the mapping's items; else the tab's page itself, as before; else the one
frame of the page that holds them (several: the user is asked for ``--quadro``).

What is found is a Playwright ``Page`` or ``Frame``; the library takes either.
"""
from .browser import ANY_PRESENT, mapped_selectors
from .cli import RunError, say

# The open dialog pages' iframes, in the top window. APEX appends a dialog opened from a
# dialog page after the one that opened it: the last is the innermost.
DIALOG_FRAMES = ".ui-dialog--apex iframe"
# A frame that looks like an APEX page with items.
HAS_ITEMS = """() => !!(window.apex && typeof window.apex.item === 'function')
  || document.querySelector('.t-Form-fieldContainer, .apex-item-text, [id$="_CONTAINER"]') !== null"""
# The dialog's title as the top window shows it, else the iframe's own title.
DIALOG_TITLE = """(frame) => {
  const dlg = frame.closest('.ui-dialog');
  const title = dlg && dlg.querySelector('.ui-dialog-title');
  return ((title && title.textContent) || frame.title || '').trim();
}"""


def add_option(p):
    """--quadro, for the commands that look for the form in a tab."""
    p.add_argument("--quadro", metavar="SELETOR",
                   help="o iframe onde está o formulário (ex.: \".ui-dialog--apex iframe\"); sem ele "
                        "usa-se o diálogo do APEX aberto, ou a própria página")


def is_gone(target):
    """True when the page is closed, or the frame detached (its dialog closed)."""
    if hasattr(target, "is_closed"):
        return target.is_closed()
    return target.is_detached() or target.page.is_closed()


async def _frame_of(handle):
    frame = await handle.content_frame()
    if frame is not None:
        await frame.wait_for_load_state("load")
    return frame


async def named_frame(page, selector):
    """The frame of the iframe `selector` names (--quadro); RunError when there is none."""
    from playwright.async_api import Error as PlaywrightError

    try:
        handle = await page.query_selector(selector)
    except PlaywrightError:
        raise RunError(f"--quadro: {selector!r} não é um seletor válido.") from None
    if handle is None:
        raise RunError(f"--quadro: nenhum elemento da página {page.url} corresponde a {selector!r}.")
    frame = await _frame_of(handle)
    if frame is None:
        raise RunError(f"--quadro: {selector!r} não é um iframe.")
    return frame


async def dialog_frames(page):
    """The open dialog pages as (frame, title), the innermost last."""
    out = []
    for handle in await page.query_selector_all(DIALOG_FRAMES):
        if not await handle.is_visible():
            continue
        frame = await _frame_of(handle)
        if frame is not None:
            out.append((frame, await handle.evaluate(DIALOG_TITLE)))
    return out


async def _holds(frame, script, arg=None):
    try:
        return bool(await frame.evaluate(script, arg))
    except Exception:  # noqa: BLE001 - a frame that cannot answer (navigating, gone) holds nothing
        return False


def _frame_line(frame):
    return f"  {frame.name or '(sem nome)'}: {frame.url}"


async def _pick(page, script, arg, verb, write=say):
    """The innermost open dialog page for which `script` holds, else the page when it holds,
    else the one other frame for which it holds; RunError when several do."""
    for frame, title in reversed(await dialog_frames(page)):
        if await _holds(frame, script, arg):
            write(f"O formulário está no diálogo aberto \"{title}\": a {verb} o diálogo ({frame.url}).")
            return frame
    if await _holds(page.main_frame, script, arg):
        return page
    others = [f for f in page.frames if f is not page.main_frame and await _holds(f, script, arg)]
    if len(others) == 1:
        write(f"O formulário está num iframe da página: a {verb} {others[0].url}.")
        return others[0]
    if others:
        lines = "\n".join(_frame_line(f) for f in others)
        raise RunError(f"a página {page.url} tem {len(others)} iframes com itens do APEX:\n{lines}\n"
                       "Indique o do formulário com --quadro SELETOR (ex.: --quadro \"iframe[title='...']\").")
    return page


async def form_frame(page, mapping, data, quadro=None, verb="preencher", write=say):
    """Where the mapping's items are: --quadro's frame, else the open dialog page, the page,
    or the one frame that holds them. What was found is said through `write`."""
    if quadro:
        return await named_frame(page, quadro)
    return await _pick(page, ANY_PRESENT, mapped_selectors(mapping, data), verb, write)


async def frame_to_map(page, quadro=None):
    """What `mapear` reads: --quadro's frame, else the open dialog page, else the page itself
    when it has APEX items, else the one frame that has them."""
    if quadro:
        return await named_frame(page, quadro)
    return await _pick(page, HAS_ITEMS, None, "ler")

