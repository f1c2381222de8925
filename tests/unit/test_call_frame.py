"""Every function and method: names, parameters, defaults, docstrings, binding like CPython."""
import inspect
import subprocess
import sys

import pytest

from ziveviver import vexocontrole

P4 = "(pPage, pWebSel, pDbCampoValue, pTimeout=5000)"
M3 = "(self, pWebSel, pDbCampoValue, pTimeout=5000)"

FUNCTIONS = [
    ("fCtPopUpWindows", "()"),
    ("fCtPopUpHtml", "(pPage, pMsg='', pTituloBotao='Enviar')"),
    ("fCtRetry", "(pFunction, pRetries=3, pDelay=0.5, pTimeout=10)"),
    ("fCtPreencText", P4),
    ("fCtPreencTextArea", P4),
    ("fCtPreencCheckRadio", "(pPage, pWebSelBase, pDbCampoValue, pTimeout=5000)"),
    ("fCtPreencCheckMultiple", "(pPage, pWebSelBase, pDbCampoValue, pTimeout=5000)"),
    ("fCtPreencDatepicker", P4),
    ("fCtPreencAutoComplete", P4),
    ("fCtPreencSwitch", P4),
    ("fCtPreencCheckbox", P4),
    ("fCtApexWaitStable", "(pPage, pTimeout=5000)"),
    ("fCtApexPreencDropDownList", P4),
    ("fCtApexPreencMultiSelect", "(pPage, pWebSel, pDbCamposValues, pTimeout=5000)"),
    ("fCtApexPreencPopupLovDesc", "(pPage, pWebSel, pDbCampoValue, pDbCampoValueDisplay=None, pTimeout=5000)"),
    ("fCtApexPreencPopupLovId",
     "(pPage, pWebSel, pDbCampoValue, pTimeout=5000, pLoadMoreSel='button.js-load.a-GV-loadMoreButton')"),
    ("fCtApexIdentTipoCampoPreenc", "(pPage, pWebConfig, pDbCampoValue, pTimeout=5000)"),
]

METHODS = [
    ("__init__", "(self, page, pDebugDev: bool = False)"),
    ("fCtApexWaitStable", "(self)"),
    ("fCtPreencUmCampo", "(self, config, pValue)"),
    ("fCtPreencTodoForm", "(self, pDictColsDePara, pJsonDados)"),
    ("fPreencGridTitular", "(self, pDictColsDePara, pJsonDados)"),
    ("fPreencGridBeneficiario", "(self, pDictColsDePara, pJsonDados)"),
    ("fCtApexPreencRepres", "(self, pDictColsDePara, pJsonDados)"),
    ("fCtApexPreencDropDownList", M3),
    ("fCtApexPreencPopupLovDesc", M3),
    ("fCtApexPreencPopupLovId", M3),
    ("fCtApexPreencMultiSelect", "(self, pWebSel, pDbCamposValues, pTimeout=5000)"),
    ("fCtPopUpHtml", "(self, pMsg='', pTituloBotao='')"),
    ("fCtPreencText", M3),
    ("fCtPreencCheckRadio", "(self, pName, pDbCampoValue, pTimeout=5000)"),
    ("fCtPreencCheckMultiple", M3),
    ("fCtPreencTextArea", M3),
    ("fCtPreencDatepicker", M3),
    ("fCtPreencAutoComplete", M3),
    ("fCtPreencSwitch", M3),
    ("fCtPreencCheckbox", M3),
]


def test_module_globals_come_in_their_order():
    # in a fresh interpreter: tests that patch and restore a module function move it to the end
    out = subprocess.run(
        [sys.executable, "-c", "from ziveviver import vexocontrole as m\n"
         "print(' '.join(k for k in vars(m) if not k.startswith('__')))\n"
         "print(m.gDebugDev, m.objfLog)"],
        capture_output=True, text=True, check=True).stdout.splitlines()
    assert out[0].split() == ["asyncio", "ctypes", "sys", "VexoFuncoes", "gDebugDev", "objfLog",
                              *[n for n, _ in FUNCTIONS], "VexoControleApex"]
    assert out[1] == "False None"


def test_functions_have_their_parameters_and_are_coroutine_functions():
    for name, sig in FUNCTIONS:
        f = getattr(vexocontrole, name)
        assert (f.__name__, f.__qualname__, str(inspect.signature(f))) == (name, name, sig)
        assert inspect.iscoroutinefunction(f), name


def test_methods_have_their_parameters_in_class_order():
    cls = vexocontrole.VexoControleApex
    own = [k for k in vars(cls) if not k.startswith("__") or k == "__init__"]
    assert own == [n for n, _ in METHODS]
    ctl = object.__new__(cls)
    for name, sig in METHODS:
        f = vars(cls)[name]
        assert str(inspect.signature(f)) == sig, name
        assert f.__qualname__ == "VexoControleApex." + name
        if name != "__init__":
            assert inspect.iscoroutinefunction(getattr(ctl, name)), name
    assert not inspect.iscoroutinefunction(cls.__init__)


def test_docstrings_are_exact():
    docs = {
        "fCtRetry": "\n    Executar funcao async com retry automatico\n    ",
        "fCtApexWaitStable": "\n    Aguardar Oracle Apex finalizar requisicoes ajax\n    ",
        "fCtApexPreencPopupLovDesc": "\n    Preencher Popup LOV APEX simulando interacao real.\n"
                                     "        Buscar pelo data-id correspondente a descricao no HTML da lista.\n    ",
    }
    for name, _ in FUNCTIONS:
        assert getattr(vexocontrole, name).__doc__ == docs.get(name), name
    cls = vexocontrole.VexoControleApex
    assert cls.__doc__ == ("\n    Tavoric - Classe auxiliar framework profissional de preenchimento "
                           "APEX Oracle\n    ")
    assert cls.fPreencGridTitular.__doc__ == (
        '\n        Preencher grid Titulares usando DictColsDePara["Titulares"] e dados JSON\n        ')
    assert cls.fCtPreencText.__doc__ is None
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("call, message", [
    (lambda f: f(1, 2), "fCtPreencText() missing 1 required positional argument: 'pDbCampoValue'"),
    (lambda f: f(pPage=1), "fCtPreencText() missing 2 required positional arguments: 'pWebSel' and 'pDbCampoValue'"),
    (lambda f: f(), "fCtPreencText() missing 3 required positional arguments: 'pPage', 'pWebSel', and 'pDbCampoValue'"),
    (lambda f: f(1, 2, 3, 4, 5), "fCtPreencText() takes from 3 to 4 positional arguments but 5 were given"),
    (lambda f: f(1, 2, 3, pX=0), "fCtPreencText() got an unexpected keyword argument 'pX'"),
    (lambda f: f(1, 2, 3, pPage=0), "fCtPreencText() got multiple values for argument 'pPage'"),
    (lambda f: f(1, 2, 3, 4, 5, pX=0), "fCtPreencText() got an unexpected keyword argument 'pX'"),
])
def test_binding_errors_are_cpythons(call, message):
    with pytest.raises(TypeError) as err:
        call(vexocontrole.fCtPreencText)
    assert str(err.value) == message


def test_binding_errors_match_an_equivalent_python_function():
    async def fCtPreencText(pPage, pWebSel, pDbCampoValue, pTimeout=5000):
        pass

    async def fCtPopUpWindows():
        pass

    cases = [((), {}), ((1,), {}), ((1, 2, 3, 4, 5, 6), {}), ((1, 2), {"pTimeout": 1}),
             ((1, 2, 3), {"pWebSel": 1}), ((), {"nope": 1, "pPage": 1})]
    def outcome(f, args, kwargs):
        try:
            f(*args, **kwargs).close()
            return "bound"
        except TypeError as e:
            return str(e).rsplit("<locals>.", 1)[-1]

    for ours, theirs in [(vexocontrole.fCtPreencText, fCtPreencText),
                         (vexocontrole.fCtPopUpWindows, fCtPopUpWindows)]:
        for args, kwargs in cases:
            assert outcome(ours, args, kwargs) == outcome(theirs, args, kwargs), (args, kwargs)


def test_methods_count_self_like_python_methods():
    ctl = object.__new__(vexocontrole.VexoControleApex)
    with pytest.raises(TypeError, match=r"^VexoControleApex.fCtPreencUmCampo\(\) missing 1 required positional argument: 'pValue'$"):
        ctl.fCtPreencUmCampo({})
    with pytest.raises(TypeError, match=r"takes 3 positional arguments but 4 were given"):
        ctl.fCtPreencUmCampo(1, 2, 3)


def test_calling_does_nothing_until_awaited(page, log):
    coro = vexocontrole.fCtPreencText(page, "#A", "x")
    method = vexocontrole.VexoControleApex.fCtPreencText(object.__new__(vexocontrole.VexoControleApex), "#A", "x")
    assert page.ops == [] and log.lines == []
    assert coro.cr_await is None
    coro.close()
    method.close()


def test_arguments_are_held_by_reference_not_copied(vc, page, run):
    config = {"WebSel": "#A"}

    async def spy(*args):
        spy.args = args

    vc.fCtPreencText = spy
    run(vc.fCtPreencTextArea(page, config, "v"))
    assert spy.args[1] is config


# A copy of the package whose vexofuncoes has no VexoFuncoes: vexocontrole's import must fail
# as CPython's own `from .vexofuncoes import VexoFuncoes` fails (probe.py does exactly that).
IMPORT_PROBE = """
import sys
def attempt(name):
    try:
        __import__(name)
    except Exception as e:
        return [type(e).__name__, str(e), getattr(e, 'name', None), getattr(e, 'path', None),
                getattr(e, 'name_from', None)]
print(repr([attempt('ziveviver.vexocontrole'), attempt('ziveviver.probe')]))
"""


@pytest.mark.parametrize("sibling, where", [
    ("", "({file})"),
    # a module that says nothing of its file, nor of where it was loaded from (3.14 reads both)
    ("del __file__\n__spec__.origin = None\n", "(unknown location)"),
])
def test_import_without_the_siblings_class_is_an_import_error_as_cpythons(tmp_path, sibling, where):
    import ast
    import shutil

    pkg = tmp_path / "ziveviver"
    pkg.mkdir()
    (pkg / "__init__.py").write_text("")
    (pkg / "vexofuncoes.py").write_text(sibling)
    (pkg / "probe.py").write_text("from .vexofuncoes import VexoFuncoes\n")
    shutil.copy(vexocontrole.__file__, pkg)
    out = subprocess.run([sys.executable, "-c", IMPORT_PROBE], cwd=tmp_path, capture_output=True,
                         text=True, check=True, env={"PYTHONPATH": str(tmp_path)}).stdout
    ours, cpythons = ast.literal_eval(out)
    assert cpythons[0] == "ImportError"
    assert cpythons[1] == ("cannot import name 'VexoFuncoes' from 'ziveviver.vexofuncoes' "
                           + where.format(file=pkg / "vexofuncoes.py"))
    assert ours == cpythons
