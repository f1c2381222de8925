"""Builds the loggers of ziveviver."""

import logging as logging
import os as os
import sys as sys
from logging import Logger
from logging.handlers import RotatingFileHandler as RotatingFileHandler
from types import MappingProxyType as MappingProxyType
from typing import ClassVar

class VexoFuncoes:
    _logger_cache: ClassVar[dict[str, Logger]]
    @classmethod
    def fLog(
        cls,
        pSiLog: int = 0,
        pSiLogTipo: int = 0,
        pSiLogPrefixo: str = "",
        pArqLogNome: str = "MorvelPy.log",
        pArqLogMaxBytes: int = 1000000,
        pArqLogQtd: int = 1,
        pDebugDev: bool = True,
    ) -> Logger: ...
