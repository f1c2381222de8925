"""Pre-flight check of a mapping, receipt of a fill and the never-submit guard.

Every function below is a coroutine function: calling it binds the arguments and returns a
coroutine; the work happens when it is awaited. The result types exist for type checkers only. Logging goes through ``vexocontrole``'s
``objfLog`` while its ``gDebugDev`` is true, as the fills' does.
"""

from collections.abc import Mapping
from types import ModuleType
from typing import Any, Literal, TypedDict, type_check_only

from playwright.async_api import Frame, Page

vexocontrole: ModuleType

@type_check_only
class Achado(TypedDict):
    """One finding of the pre-flight check: a field, a grid button or a section."""

    secao: str  # "Formulario", "Representantes", "Titulares" or "Beneficiarios"
    coluna: str | None
    seletor: str | None
    tipo: str | None  # the declared "ColTipo"; "botao" for grid buttons, "secao" for a section
    veredito: Literal["ok", "aviso", "erro"]
    mensagem: str

@type_check_only
class LinhaRecibo(TypedDict):
    """One row of the receipt: a field, a representative's item, a grid cell or a grid."""

    secao: str
    coluna: str | None
    linha: int | None  # the record's number (from 1) for grid cells
    seletor: str | None
    tipo: str | None  # the declared "ColTipo"; "grade" for the row count of a grid
    estado: Literal["igual", "vazio", "diferente", "nao_encontrado", "nao_conferido"]
    esperado: Any
    obtido: Any
    exibido: str | None  # the display value of a popup LOV

@type_check_only
class PedidoRetido(TypedDict):
    """A request the guard held back."""

    url: str
    metodo: str
    navegacao: bool
    pedido: str | None  # APEX's p_request, when the posted data carries it

@type_check_only
class ItemMapeado(TypedDict):
    """One item the page gave, and where it went."""

    item: str  # the APEX item id
    coluna: str | None  # its data column (None when it stayed out)
    rotulo: str | None
    tipo_apex: str | None  # APEX's item_type, when APEX knows the item
    tipo: str | None  # the widget kind the fills use, when one fits
    destino: Literal["mapa", "grelha", "fora"]
    motivo: str | None  # why it stayed out of the mapping

@type_check_only
class GrelhaMapeada(TypedDict):
    """A region that looks like a row editor: add and save buttons, and its items."""

    regiao: str | None
    titulo: str
    secao: Literal["Titulares", "Beneficiarios"]  # guessed from the region's title
    inserir: str | None
    gravar: str | None
    esqueleto: dict[str, dict[str, dict[str, str]]]  # {secao: section of a mapping}

@type_check_only
class PaginaMapeada(TypedDict):
    url: str
    titulo: str
    apex: bool
    versao: str | None  # apex.env.APEX_VERSION
    registo: bool  # the items came from apex.items (else from the markup)
    pronta: bool  # the page settled within pEspera
    login: bool

@type_check_only
class Mapeamento(TypedDict):
    """What fCtMapearPagina read: the mapping, a data template and the report."""

    mapa: dict[str, dict[str, str]]
    dados: dict[str, Any]
    itens: list[ItemMapeado]
    grelhas: list[GrelhaMapeada]
    pagina: PaginaMapeada
    problema: str | None  # why the page cannot be mapped (not APEX, a login page, no items)

async def fCtVerificarMapa(
    pPage: Page | Frame, pDictColsDePara: Mapping[str, Any], pJsonDados: Mapping[str, Any]
) -> list[Achado]: ...
async def fCtConferirForm(
    pPage: Page | Frame, pDictColsDePara: Mapping[str, Any], pJsonDados: Mapping[str, Any]
) -> list[LinhaRecibo]: ...
async def fCtMapearPagina(pPage: Page | Frame, pEspera: int = 10000) -> Mapeamento: ...
async def fCtAtivarGuarda(pPage: Page | Frame) -> list[PedidoRetido]: ...
async def fCtDesativarGuarda(pPage: Page | Frame) -> list[PedidoRetido]: ...
