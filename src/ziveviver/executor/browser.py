"""The browser: starting one (the system's Chromium, another executable, an installed Chrome
or Edge), attaching to one the user opened (--cdp) and picking its tab, loading the form,
and making sure the page holds the mapped items before the fill."""
import os
import pathlib
import re
import shutil
import sys

from .cli import RunError, say, secs
from .inputs import GRIDS, grids_filled, rep_filled, simple_fields

# Options for a Chromium started with nobody in front of it (the tests start theirs with these).
CHROMIUM_ARGS = ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run"]
FIELDS_WAIT_S = 10  # how long a loaded page may take to show one of the mapped items (at most
# --tempo-limite)

# True when one of the selectors matches an element (a selector the page cannot parse
# counts as no match).
ANY_PRESENT = """(sels) => sels.some((s) => {
  try { return document.querySelector(s) !== null; } catch (e) { return false; }
})"""
# Which tab the user is looking at: focused first, then visible.
TAB_STATE = "() => [document.hasFocus(), document.visibilityState === 'visible']"


def _system_chromium():
    for cand in ("/usr/bin/chromium", shutil.which("chromium"), shutil.which("chromium-browser")):
        if cand and pathlib.Path(cand).exists():
            return cand
    return None


def _launch_problem(e, what, args):
    msg = str(e)
    if "Executable doesn't exist" in msg or "is not found at" in msg or "distribution" in msg:
        return (f"{what} não está instalado. Indique outro com --navegador CAMINHO ou --canal "
                "chrome|msedge.")
    if "XServer" in msg or "DISPLAY" in msg:
        return f"não há ambiente gráfico para abrir {what}; {_without_display(args)}."
    first = msg.strip().splitlines()[0] if msg.strip() else type(e).__name__
    return f"não foi possível iniciar {what}: {first}"


def _without_display(args):
    """What the command can do instead of showing a browser window, by the options it has."""
    if hasattr(args, "headless"):
        return "use --headless ou corra numa sessão gráfica"
    if hasattr(args, "headed"):
        return "corra sem --headed ou numa sessão gráfica"
    if hasattr(args, "cdp"):
        return ("corra numa sessão gráfica, ou use --cdp com um navegador já aberto (com "
                "--remote-debugging-port)")
    return "corra numa sessão gráfica"


async def launch(pw, args, headless):
    """Starts the browser the arguments name; RunError with a clear message when it cannot."""
    from playwright.async_api import Error as PlaywrightError

    options = {"headless": headless}
    canal = getattr(args, "canal", None)
    if canal:
        options["channel"] = canal
        what = f"o navegador {canal}"
    elif args.navegador:
        exe = pathlib.Path(args.navegador)
        if not exe.is_file():
            raise RunError(f"o navegador indicado em --navegador não existe: {args.navegador}")
        options["executable_path"] = str(exe)
        what = f"o navegador {args.navegador}"
    else:
        exe = _system_chromium()
        if exe:
            options["executable_path"] = exe
            what = f"o Chromium ({exe})"
        elif pathlib.Path(pw.chromium.executable_path).exists():
            what = "o Chromium do Playwright"
        else:
            raise RunError("nenhum Chromium encontrado: instale o pacote 'chromium', ou indique um "
                           "navegador com --navegador CAMINHO ou --canal chrome|msedge.")
    if not headless and sys.platform.startswith("linux") and not os.environ.get("DISPLAY") \
            and not os.environ.get("WAYLAND_DISPLAY"):
        raise RunError(f"não há ambiente gráfico (DISPLAY) para mostrar {what}; "
                       f"{_without_display(args)}.")
    say(f"A abrir {what}...")
    try:
        return await pw.chromium.launch(**options)
    except PlaywrightError as e:
        raise RunError(_launch_problem(e, what, args)) from None


async def attach(pw, args):
    """The browser the user opened with a debugging port (--cdp); RunError when it does not
    answer."""
    say(f"A ligar ao navegador em {args.cdp} ...")
    try:
        return await pw.chromium.connect_over_cdp(args.cdp, timeout=args.tempo_limite * 1000)
    except Exception as e:  # noqa: BLE001 - any failure to attach is the user's to fix
        raise RunError(f"não foi possível ligar ao navegador em {args.cdp} ({net_error(e)}). "
                       "Abra o Chromium com --remote-debugging-port=9222 e indique "
                       "--cdp http://127.0.0.1:9222.") from None


async def goto(page, url, limit_s):
    from playwright.async_api import Error as PlaywrightError
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    say(f"A carregar {url} ...")
    try:
        response = await page.goto(url, timeout=limit_s * 1000, wait_until="load")
    except PlaywrightTimeout:
        raise RunError(f"a página {url} não carregou em {secs(limit_s)} (use --tempo-limite "
                       "para esperar mais).") from None
    except PlaywrightError as e:
        raise RunError(f"não foi possível abrir {url}: {net_error(e)}") from None
    if response is not None and response.status >= 400:
        raise RunError(f"o servidor respondeu {response.status} {response.status_text} a {url}.")


def net_error(e):
    msg = str(e)
    m = re.search(r"net::ERR_[A-Z_]+", msg)
    if m:
        return m.group(0)
    return msg.strip().splitlines()[0] if msg.strip() else type(e).__name__


def _matches(tab_url, url):
    if tab_url == url or tab_url.startswith(url):
        return True
    strip = lambda u: u.split("#", 1)[0].split("?", 1)[0].rstrip("/")  # noqa: E731
    return strip(tab_url) == strip(url)


async def pick_tab(browser, url, limit_s, doing="A preencher"):
    """The tab to use in a browser the user opened: the one whose address matches `url`
    (opened in a new tab of that browser when none does), or the one the user is on. `doing`
    starts the line that names it. Returns the tab and whether it was opened here."""
    pages = [p for ctx in browser.contexts for p in ctx.pages]
    if url:
        for p in pages:
            if _matches(p.url, url):
                say(f"{doing} o separador aberto em {p.url}")
                await _loaded(p, limit_s)
                return p, False
        if not browser.contexts:
            raise RunError("o navegador não tem nenhuma janela aberta.")
        say(f"Nenhum separador aberto em {url}; a abri-lo num separador novo.")
        page = await browser.contexts[0].new_page()
        try:
            await goto(page, url, limit_s)
        except BaseException:
            await _close_quietly(page)
            raise
        return page, True
    if not pages:
        raise RunError("o navegador não tem nenhum separador aberto; indique o formulário com --url.")
    best, best_rank = pages[-1], (False, False)
    for p in pages:
        try:
            rank = tuple(await p.evaluate(TAB_STATE))
        except Exception:  # noqa: BLE001 - a tab that cannot answer is not the current one
            continue
        if rank > best_rank:
            best, best_rank = p, rank
    say(f"{doing} o separador atual: {best.url}")
    await _loaded(best, limit_s)
    return best, False


async def _close_quietly(page):
    try:
        if not page.is_closed():
            await page.close()
    except Exception:  # noqa: BLE001 - a tab that is already going
        pass


def context_options(args, headless):
    """The options of a context the runner makes: the page's size (a window's own size when a
    person sees it) and the saved login of --estado."""
    options = {"viewport": {"width": 1280, "height": 900}} if headless else {"no_viewport": True}
    if getattr(args, "estado_dados", None):
        options["storage_state"] = args.estado_dados
    return options


async def open_context(pw, args, headless):
    """The browser context the runner works in: the first one of the browser the user opened
    (--cdp), or a new one of a browser started here (with the saved login of --estado).
    Returns (browser, context, owned): `owned` when this run started the browser."""
    if getattr(args, "cdp", None):
        browser = await attach(pw, args)
        if not browser.contexts:
            raise RunError("o navegador não tem nenhuma janela aberta.")
        return browser, browser.contexts[0], False
    browser = await launch(pw, args, headless)
    return browser, await browser.new_context(**context_options(args, headless)), True


class Opened:
    """A page the runner opened, in a browser it started (`owned`) or in the user's (--cdp,
    where `new_tab` says whether the tab was opened here)."""

    def __init__(self, browser, page, owned, new_tab):
        self.browser, self.page, self.owned, self.new_tab = browser, page, owned, new_tab

    async def close(self, keep_tab=False):
        """Closes what this run opened: the browser it started, or the tab it opened in the
        user's browser (unless `keep_tab`); the user's browser and tabs stay."""
        if self.owned:
            if self.browser.is_connected():
                await self.browser.close()
        elif self.new_tab and not keep_tab:
            await _close_quietly(self.page)


async def open_page(pw, args, url, headless, doing="A preencher"):
    """The page of `url` (an address as ``inputs.page_address`` gives it, or None under --cdp
    for the tab the user is on): a tab of the browser the user opened (--cdp), or a new page
    of a browser started here, loaded. Returns an Opened."""
    if getattr(args, "cdp", None):
        browser = await attach(pw, args)
        page, new_tab = await pick_tab(browser, url, args.tempo_limite, doing)
        return Opened(browser, page, False, new_tab)
    browser, context, _ = await open_context(pw, args, headless)
    try:
        page = await context.new_page()
        await goto(page, url, args.tempo_limite)
    except BaseException:
        await browser.close()
        raise
    return Opened(browser, page, True, False)


async def _loaded(page, limit_s):
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    try:
        await page.wait_for_load_state("load", timeout=limit_s * 1000)
    except PlaywrightTimeout:
        raise RunError(f"o separador {page.url} não acabou de carregar em {secs(limit_s)}.") from None


def mapped_selectors(mapping, data):
    """The selectors of the items a fill of `data` would look for first."""
    sels = [str(cfg["WebSel"]) for _, cfg in simple_fields(mapping)]
    if rep_filled(mapping, data):
        sels += [str(cfg["WebSel"]) for cfg in mapping["Representantes"].values()]
    for key in grids_filled(mapping, data):
        sels.append(str(mapping[key][GRIDS[key][0]]["WebSel"]))
    return sels


async def require_fields(page, mapping, data, hint, limit_s):
    """Fails when none of the mapped items is in the page (a login page, the wrong page)."""
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    sels = mapped_selectors(mapping, data)
    if not sels:
        return
    try:
        await page.wait_for_function(ANY_PRESENT, arg=sels, timeout=min(FIELDS_WAIT_S, limit_s) * 1000)
    except PlaywrightTimeout:
        raise RunError(f"a página {page.url} não tem nenhum dos itens do mapa ({', '.join(sels[:3])}"
                       f"{', ...' if len(sels) > 3 else ''}). É a página do formulário? {hint}") from None


