"""Preenche um formulário APEX a partir de um ficheiro de dados e avisa o operador no fim.

Uso típico (com --perfil, o login na aplicação feito uma vez fica guardado nessa pasta;
o script preenche a página indicada e deixa-a por submeter):

    python preencher_formulario.py --url https://apex.exemplo/ords/r/app/proposta \\
        --perfil perfil-apex --mapa mapa.json --dados proposta_123.json --debug

Sem --url, --mapa e --dados usa o formulário de demonstração que vem com o pacote.
O aviso final é o modal na própria página (por omissão), a caixa de mensagem do Windows
(--aviso windows) ou nenhum (--aviso nenhum, para execuções sem operador).
"""

from __future__ import annotations

import argparse
import asyncio
import json
import sys
from contextlib import AsyncExitStack
from importlib import resources
from pathlib import Path
from typing import Any, cast

from playwright.async_api import BrowserContext, Page, Playwright, ViewportSize, async_playwright

from ziveviver.vexocontrole import VexoControleApex, fCtApexWaitStable, fCtPopUpWindows
from ziveviver.vexofuncoes import VexoFuncoes

DEMO = resources.files("ziveviver") / "demo"


def ler_json(caminho: Path | None, nome_demo: str) -> dict[str, Any]:
    """Lê um ficheiro JSON de objeto (ou o da demonstração, quando não se indica nenhum)."""
    texto = caminho.read_text(encoding="utf-8") if caminho else (DEMO / nome_demo).read_text(encoding="utf-8")
    dados: object = json.loads(texto)
    if not isinstance(dados, dict):
        raise SystemExit(f"{caminho or nome_demo}: esperava um objeto JSON")
    return cast(dict[str, Any], dados)


async def abrir_pagina(pw: Playwright, args: argparse.Namespace) -> tuple[BrowserContext, Page]:
    """Abre o navegador; com --perfil usa uma pasta de perfil própria, onde a sessão APEX
    (o login feito uma vez à mão) fica guardada entre execuções."""
    janela: ViewportSize = {"width": 1280, "height": 900}
    if args.perfil:
        contexto = await pw.chromium.launch_persistent_context(
            args.perfil, executable_path=args.navegador, headless=args.sem_janela, viewport=janela)
    else:
        navegador = await pw.chromium.launch(executable_path=args.navegador, headless=args.sem_janela)
        contexto = await navegador.new_context(viewport=janela)
    pagina = contexto.pages[0] if contexto.pages else await contexto.new_page()
    return contexto, pagina


async def abrir_formulario(pagina: Page, url: str) -> None:
    await pagina.goto(url)
    # A página APEX está pronta quando o seu JavaScript carregou e não há pedidos ajax.
    await pagina.wait_for_function("() => typeof window.apex !== 'undefined'", timeout=60_000)
    await fCtApexWaitStable(pagina, pTimeout=10_000)


async def preencher(args: argparse.Namespace) -> int:
    # Linhas de progresso na consola (2 = registar, tipo 1 = consola).
    log = VexoFuncoes.fLog(pSiLog=2, pSiLogTipo=1, pSiLogPrefixo="preencher_formulario")
    mapa = ler_json(args.mapa, "mapa.json")
    dados = ler_json(args.dados, "dados.json")

    async with AsyncExitStack() as pilha:
        if args.url:
            url: str = args.url
        else:
            url = pilha.enter_context(resources.as_file(DEMO / "form.html")).as_uri()
        pw = await pilha.enter_async_context(async_playwright())
        contexto, pagina = await abrir_pagina(pw, args)
        try:
            await abrir_formulario(pagina, url)
            controle = VexoControleApex(pagina, pDebugDev=args.debug)
            log.info("A preencher %s com %d colunas de dados", url, len(dados))
            await controle.fCtPreencTodoForm(mapa, dados)
            log.info("Formulário preenchido; falta rever e submeter")
            if args.aviso == "pagina":
                await controle.fCtPopUpHtml("Formulário preenchido. Reveja os dados antes de submeter.", "OK")
            elif args.aviso == "windows":
                await fCtPopUpWindows()
            if args.captura:
                await pagina.screenshot(path=str(args.captura), full_page=True)
                log.info("Captura guardada em %s", args.captura)
        finally:
            await contexto.close()
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Preenche um formulário Oracle APEX")
    parser.add_argument("--url", help="endereço da página do formulário (por omissão, a demonstração)")
    parser.add_argument("--mapa", type=Path, help="JSON: coluna -> {WebSel, ColTipo}")
    parser.add_argument("--dados", type=Path, help="JSON: coluna -> valor (e as secções)")
    parser.add_argument("--navegador", help="executável do Chromium (por omissão, o do Playwright)")
    parser.add_argument("--perfil", type=Path, help="pasta de perfil do navegador (guarda o login)")
    parser.add_argument("--sem-janela", action="store_true", help="navegador sem janela")
    parser.add_argument("--aviso", choices=("pagina", "windows", "nenhum"), default="pagina")
    parser.add_argument("--captura", type=Path, help="guarda uma captura da página preenchida")
    parser.add_argument("--debug", action="store_true", help="escreve Logs/MorvelPy_Dev.log")
    args = parser.parse_args(argv)
    return asyncio.run(preencher(args))


if __name__ == "__main__":
    sys.exit(main())
