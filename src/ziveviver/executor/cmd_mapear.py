"""``ziveviver mapear``: writes the mapping of a form from the live page.

Opens the page (or attaches to a browser the user opened), lets
``vexoconferencia.fCtMapearPagina`` read it once it is settled, prints what it found item by
item, the regions that look like row editors with a section skeleton to paste, and writes the
mapping (and with --dados-modelo a data file holding what the page holds now). Nothing is
written unless the page was read as a form; both files are written whole or not at all.
"""
import json
import os
import pathlib
import tempfile

from . import browser as _browser
from . import frames as _frames
from .cli import (BAD_INPUT, FAILED, INTERRUPTED, OK, InputError, browser_options, command_parser,
                  count, fail, reconfigure_output, report, run_guarded, say, warn)
from .inputs import page_address, read_session

DESTINATIONS = ("mapa", "grelha", "fora")  # where an item went: the mapping, a row editor, neither

MAPEAR_DOC = """\
Lê os itens da página (do registo do APEX, ou da marcação) e escreve o mapa: para cada item o
seletor, o tipo de campo, o rótulo e, nas datas, o formato. Os itens que nenhum preenchimento
sabe preencher ficam fora do mapa, com o motivo. Grelhas e representante não se reconhecem com
segurança a partir da página: as regiões com botões de acrescentar e gravar linhas aparecem no
relatório com um esqueleto da secção para colar no mapa.

exemplos:
  ziveviver mapear --url https://apex.exemplo/ords/r/app/proposta --estado login.json \\
      --saida mapa.json --dados-modelo dados.json
  ziveviver mapear --cdp http://127.0.0.1:9222 --saida mapa.json

estado de saída: 0 mapa escrito; 1 a página não se abriu, não é do APEX, pede o login ou não
tem itens; 2 argumentos inválidos; 130 interrompido."""


def _check_args(args):
    """InputError for arguments that cannot work, before any browser opens."""
    if not args.url and not args.cdp:
        raise InputError(["falta --url (o endereço do formulário) ou --cdp (um navegador já aberto)."])
    if args.cdp and (args.estado or args.navegador or args.canal or args.headed):
        raise InputError(["--cdp usa o navegador já aberto: não se combina com --estado, --navegador, "
                          "--canal nem --headed."])
    if args.espera <= 0 or args.tempo_limite <= 0:
        raise InputError(["--espera e --tempo-limite têm de ser maiores que 0."])
    outputs = [(flag, pathlib.Path(p)) for flag, p in (("--saida", args.saida),
                                                         ("--dados-modelo", args.dados_modelo)) if p]
    problems = []
    for flag, path in outputs:
        if path.is_dir():
            problems.append(f"{flag}: {path} é uma pasta; indique um ficheiro .json.")
        elif not path.resolve().parent.is_dir():
            problems.append(f"{flag}: a pasta de {path} não existe.")
    if len(outputs) == 2 and outputs[0][1].resolve() == outputs[1][1].resolve():
        problems.append("--saida e --dados-modelo não podem ser o mesmo ficheiro.")
    if problems:
        raise InputError(problems)
    args.url = page_address(args.url)
    read_session(args)


async def _read_page(args):
    """fCtMapearPagina's result for the page the arguments name."""
    from playwright.async_api import async_playwright

    from ziveviver.vexoconferencia import fCtMapearPagina
    from ziveviver.vexocontrole import VexoControleApex

    async with async_playwright() as pw:
        opened = await _browser.open_page(pw, args, args.url, not args.headed, "A ler")
        page = opened.page
        VexoControleApex(page, args.debug)  # the logging the page side writes through
        say("A ler os itens da página...")
        try:
            form = await _frames.frame_to_map(page, args.quadro)
            return await fCtMapearPagina(form, int(args.espera * 1000))
        finally:
            await opened.close()  # the browser started here, or the tab opened in the user's


async def _mapear(args):
    result = await _read_page(args)
    if result["problema"]:
        fail(result["problema"] + "." + _hint(result, args) + " Nada foi escrito.")
        return FAILED
    for line in _report_lines(result, args):
        say(line)
    mapping = json.dumps(result["mapa"], ensure_ascii=False, indent=2) + "\n"
    files = []
    if args.saida:
        files.append((pathlib.Path(args.saida), mapping))
    if args.dados_modelo:
        files.append((pathlib.Path(args.dados_modelo), json.dumps(result["dados"], ensure_ascii=False, indent=2) + "\n"))
    try:
        _write_all(files)
    except OSError as e:
        fail(f"não foi possível escrever {e.filename or 'os ficheiros'}: {e.strerror or e}. Nada foi escrito.")
        return FAILED
    if not args.saida:
        say("\nMapa (use --saida FICHEIRO para o gravar):")
        say(mapping.rstrip("\n"))
    for path, _ in files:
        say(f"Gravado: {path}")
    if not result["mapa"]:
        warn("nenhum campo simples no mapa (só possíveis grelhas).")
    return OK


def _hint(result, args):
    if result["pagina"]["login"]:
        return (" Inicie a sessão com 'ziveviver entrar' e use --estado, ou abra o formulário num "
                "navegador e use --cdp." if not args.estado else
                " A sessão guardada pode ter expirado: volte a correr 'ziveviver entrar'.")
    return " É o endereço do formulário?"


def _report_lines(result, args):
    """What the page gave, as text: the page, one line per item, the row editors."""
    page = result["pagina"]
    lines = [f"Página: {page['titulo'] or '(sem título)'} ({page['url']})"]
    if page["registo"]:
        how = f"APEX {page['versao'] or '(versão não indicada)'}: itens lidos do registo apex.items"
    else:
        how = "APEX sem registo de itens (20.x ou anterior): itens lidos da marcação da página"
    lines.append(how)
    items = result["itens"]
    lines.append(f"\n{count(len(items), 'item', 'itens')}, pela ordem da página:")
    for it in items:
        sel = f"#{it['item']}"
        what = it["tipo"] or it["tipo_apex"] or "—"  # our kind, else APEX's item_type
        where = it["coluna"] if it["destino"] != "fora" else f"({it['motivo']})"
        label = f'  "{it["rotulo"]}"' if it["rotulo"] else ""
        lines.append(f"  {it['destino']:<6} {sel:<24} {what:<16} {where}{label}")
    counts = {d: sum(1 for it in items if it["destino"] == d) for d in DESTINATIONS}
    lines.append(f"\nNo mapa: {count(counts['mapa'], 'campo')}; em possíveis grelhas: {counts['grelha']}; "
                 f"fora do mapa: {counts['fora']}.")
    for g in result["grelhas"]:
        lines.append(f"\nA região \"{g['titulo'] or g['regiao'] or '?'}\" parece uma grelha (botões "
                     f"{g['inserir'] or '?'} e {g['gravar'] or '?'}). Grelhas não se reconhecem com "
                     "segurança a partir da página: confira a secção (\"Titulares\" ou \"Beneficiarios\", "
                     "com TitInserir/TitGravar ou BenInserir/BenGravar) e cole-a no mapa, depois dos "
                     "campos simples:")
        body = json.dumps(g["esqueleto"], ensure_ascii=False, indent=2)
        lines.extend(body[1:-1].strip("\n").splitlines())
    lines.append("\nO representante também não se reconhece pela página: os seus itens ficam no mapa "
                 "como campos simples. Para os preencher como representante, passe-os para a secção "
                 "\"Representantes\" (depois dos campos simples) e ponha \"RepAtivarPreenc\": 1 nos dados.")
    if not page["pronta"]:
        lines.append(f"\nAviso: a página continuava a mudar ao fim de {args.espera:g} s; foi lida como estava.")
    return lines


def _write_all(files):
    """Writes every (path, text) or none: each goes to a temporary file beside it first."""
    temps = []
    try:
        for path, text in files:
            fd, tmp = tempfile.mkstemp(prefix=".mapear-", suffix=".json", dir=path.resolve().parent)
            temps.append(tmp)
            with os.fdopen(fd, "w", encoding="utf-8") as f:
                f.write(text)
        for (path, _), tmp in zip(files, temps):
            os.replace(tmp, path)
    finally:
        for tmp in temps:
            if os.path.exists(tmp):
                os.unlink(tmp)


def run(args):
    reconfigure_output()
    try:
        _check_args(args)
    except InputError as e:
        report(e)
        return BAD_INPUT

    def interrupted():
        fail("interrompido pelo utilizador; nada foi escrito.")
        return INTERRUPTED

    return run_guarded(_mapear(args), interrupted)


def add_parser(subparsers):
    p = command_parser(subparsers, "mapear", "escreve o mapa a partir dos itens da página", MAPEAR_DOC)
    p.add_argument("--url", help="endereço do formulário (ou de um ficheiro local)")
    browser_options(p, headless=False)
    p.add_argument("--headed", action="store_true", help="mostra o navegador enquanto lê a página")
    p.add_argument("--cdp", metavar="ENDEREÇO",
                   help="lê um navegador já aberto (ex.: http://127.0.0.1:9222): o separador de --url, ou o atual")
    p.add_argument("--estado", metavar="LOGIN.json", help="sessão guardada por 'ziveviver entrar'")
    _frames.add_option(p)
    p.add_argument("--saida", metavar="MAPA.json", help="ficheiro onde gravar o mapa (sem ele, o mapa é mostrado)")
    p.add_argument("--dados-modelo", metavar="DADOS.json",
                   help="grava também um ficheiro de dados com todas as colunas e o que a página tem agora")
    p.add_argument("--espera", type=float, default=10.0, metavar="SEGUNDOS",
                   help="quanto esperar, no máximo, que a página acabe de se compor (10)")
    p.add_argument("--debug", action="store_true", help="escreve o registo de depuração (Logs/)")
    p.set_defaults(executar=run)
    return p
