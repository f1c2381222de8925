"""Command line of the logging module.

A compiled module cannot be started with ``python -m``; the ``vexofuncoes`` console script
(or ``python -m ziveviver._cli``) loads the extension's own file as the main module instead,
so that it runs exactly as it would as the main program: under the name ``__main__``,
reading ``sys.argv``.
"""
import importlib.machinery
import importlib.util
import sys


def vexofuncoes_main():
    origin = importlib.util.find_spec(f"{__package__}.vexofuncoes").origin
    loader = importlib.machinery.ExtensionFileLoader("__main__", origin)
    location = importlib.util.spec_from_file_location("__main__", origin, loader=loader)
    module = importlib.util.module_from_spec(location)
    previous = sys.modules.get("__main__")
    sys.modules["__main__"] = module
    try:
        loader.exec_module(module)
    finally:
        if previous is not None:
            sys.modules["__main__"] = previous
        else:
            del sys.modules["__main__"]


if __name__ == "__main__":
    vexofuncoes_main()
