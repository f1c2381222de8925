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

# Options of the Chromium the demo and `verificar` start.
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


def find_browser(explicit=None):
    """The Chromium the demo and `verificar` start: `explicit`, else the system's."""
    for cand in (explicit, "/usr/bin/chromium", shutil.which("chromium"), shutil.which("chromium-browser")):
        if cand and pathlib.Path(cand).exists():
            return cand
    sys.exit("Nenhum Chromium encontrado: instale o pacote 'chromium' ou use --navegador CAMINHO.")

def _system_chromium():
    for cand in ("/usr/bin/chromium", shutil.which("chromium"), shutil.which("chromium-browser")):
        if cand and pathlib.Path(cand).exists():
            return cand
    return None


NO_DISPLAY_HINT = "use --headless ou corra numa sessão gráfica"


def _launch_problem(e, what, no_display=NO_DISPLAY_HINT):
    msg = str(e)
    if "Executable doesn't exist" in msg or "is not found at" in msg or "distribution" in msg:
        return (f"{what} não está instalado. Indique outro com --navegador CAMINHO ou --canal "
                "chrome|msedge.")
    if "XServer" in msg or "DISPLAY" in msg:
        return f"não há ambiente gráfico para abrir {what}; {no_display}."
    first = msg.strip().splitlines()[0] if msg.strip() else type(e).__name__
    return f"não foi possível iniciar {what}: {first}"


async def launch(pw, args, headless, no_display=NO_DISPLAY_HINT):
    """Starts the browser the arguments name; RunError with a clear message when it cannot
    (`no_display`: what the command needs when there is no desktop to show the browser on)."""
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
        raise RunError(f"não há ambiente gráfico (DISPLAY) para mostrar {what}; {no_display}.")
    say(f"A abrir {what}...")
    try:
        return await pw.chromium.launch(**options)
    except PlaywrightError as e:
        raise RunError(_launch_problem(e, what, no_display)) from None


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


def url_of(arg):
    """A local file path becomes a file:// address; anything else is taken as given."""
    if "://" not in arg and pathlib.Path(arg).is_file():
        return pathlib.Path(arg).resolve().as_uri()
    return arg


def _matches(tab_url, url):
    if tab_url == url or tab_url.startswith(url):
        return True
    strip = lambda u: u.split("#", 1)[0].split("?", 1)[0].rstrip("/")  # noqa: E731
    return strip(tab_url) == strip(url)


async def pick_tab(browser, url, limit_s, doing="A preencher"):
    """The tab to fill in a browser the user opened: the one whose address matches `url`
    (opened in a new tab of that browser when none does), or the one the user is on. `doing`
    starts the line that names it."""
    pages = [p for ctx in browser.contexts for p in ctx.pages]
    if url:
        for p in pages:
            if _matches(p.url, url):
                say(f"{doing} o separador aberto em {p.url}")
                await _loaded(p, limit_s)
                return p
        if not browser.contexts:
            raise RunError("o navegador não tem nenhuma janela aberta.")
        say(f"Nenhum separador aberto em {url}; a abri-lo num separador novo.")
        page = await browser.contexts[0].new_page()
        await goto(page, url, limit_s)
        return page
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
    return best


async def _loaded(page, limit_s):
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    try:
        await page.wait_for_load_state("load", timeout=limit_s * 1000)
    except PlaywrightTimeout:
        raise RunError(f"o separador {page.url} não acabou de carregar em {secs(limit_s)}.") from None


async def require_fields(page, mapping, data, hint, limit_s):
    """Fails when none of the mapped items is in the page (a login page, the wrong page)."""
    from playwright.async_api import TimeoutError as PlaywrightTimeout

    sels = [str(cfg["WebSel"]) for _, cfg in simple_fields(mapping)]
    if rep_filled(mapping, data):
        sels += [str(cfg["WebSel"]) for cfg in mapping["Representantes"].values()]
    for key in grids_filled(mapping, data):
        sels.append(str(mapping[key][GRIDS[key][0]]["WebSel"]))
    if not sels:
        return
    try:
        await page.wait_for_function(ANY_PRESENT, arg=sels, timeout=min(FIELDS_WAIT_S, limit_s) * 1000)
    except PlaywrightTimeout:
        raise RunError(f"a página {page.url} não tem nenhum dos itens do mapa ({', '.join(sels[:3])}"
                       f"{', ...' if len(sels) > 3 else ''}). É a página do formulário? {hint}") from None


