// Module vexocontrole: its globals in their order, the function table and the controller class.
#include "bodies.hpp"
#include "pacing.hpp"

#include <iterator>

namespace zv::vc {
namespace {

constexpr const char kP4[] = "pPage, pWebSel, pDbCampoValue, pTimeout=5000";

// Module-level coroutine functions, in the module's order.
const FuncSpec kFunctions[] = {
    {"fCtPopUpWindows", nullptr, "", nullptr, fCtPopUpWindows, nullptr, nullptr},
    {"fCtPopUpHtml", nullptr, "pPage, pMsg='', pTituloBotao='Enviar'", nullptr, fCtPopUpHtml, nullptr, nullptr},
    {"fCtRetry", nullptr, "pFunction, pRetries=3, pDelay=0.5, pTimeout=10",
     "\n    Executar funcao async com retry automatico\n    ", fCtRetry, nullptr, nullptr},
    {"fCtPreencText", nullptr, kP4, nullptr, fCtPreencText, nullptr, nullptr},
    {"fCtPreencTextArea", nullptr, kP4, nullptr, fCtPreencTextArea, nullptr, nullptr},
    {"fCtPreencCheckRadio", nullptr, "pPage, pWebSelBase, pDbCampoValue, pTimeout=5000", nullptr,
     fCtPreencCheckRadio, nullptr, nullptr},
    {"fCtPreencCheckMultiple", nullptr, "pPage, pWebSelBase, pDbCampoValue, pTimeout=5000", nullptr,
     fCtPreencCheckMultiple, nullptr, nullptr},
    {"fCtPreencDatepicker", nullptr, kP4, nullptr, fCtPreencDatepicker, nullptr, nullptr},
    {"fCtPreencAutoComplete", nullptr, kP4, nullptr, fCtPreencAutoComplete, nullptr, nullptr},
    {"fCtPreencSwitch", nullptr, kP4, nullptr, fCtPreencSwitch, nullptr, nullptr},
    {"fCtPreencCheckbox", nullptr, kP4, nullptr, fCtPreencCheckbox, nullptr, nullptr},
    {"fCtApexWaitStable", nullptr, "pPage, pTimeout=5000",
     "\n    Aguardar Oracle Apex finalizar requisicoes ajax\n    ", fCtApexWaitStable, nullptr, nullptr},
    {"fCtApexPreencDropDownList", nullptr, kP4, nullptr, fCtApexPreencDropDownList, nullptr, nullptr},
    {"fCtApexPreencMultiSelect", nullptr, "pPage, pWebSel, pDbCamposValues, pTimeout=5000", nullptr,
     fCtApexPreencMultiSelect, nullptr, nullptr},
    {"fCtApexPreencPopupLovDesc", nullptr,
     "pPage, pWebSel, pDbCampoValue, pDbCampoValueDisplay=None, pTimeout=5000",
     "\n    Preencher Popup LOV APEX simulando interacao real.\n"
     "        Buscar pelo data-id correspondente a descricao no HTML da lista.\n    ",
     fCtApexPreencPopupLovDesc, nullptr, nullptr},
    {"fCtApexPreencPopupLovId", nullptr,
     "pPage, pWebSel, pDbCampoValue, pTimeout=5000, pLoadMoreSel='button.js-load.a-GV-loadMoreButton'",
     nullptr, fCtApexPreencPopupLovId, nullptr, nullptr},
    {"fCtApexIdentTipoCampoPreenc", nullptr, "pPage, pWebConfig, pDbCampoValue, pTimeout=5000", nullptr,
     fCtApexIdentTipoCampoPreenc, nullptr, nullptr},
};

constexpr const char kM3[] = "self, pWebSel, pDbCampoValue, pTimeout=5000";

// VexoControleApex's methods, in the class body's order.
const FuncSpec kMethods[] = {
    {"__init__", "VexoControleApex.__init__", "self, page, pDebugDev: bool = False", nullptr,
     nullptr, controller_init, nullptr},
    {"fCtApexWaitStable", "VexoControleApex.fCtApexWaitStable", "self", nullptr, m_fCtApexWaitStable, nullptr, nullptr},
    {"fCtPreencUmCampo", "VexoControleApex.fCtPreencUmCampo", "self, config, pValue", nullptr, m_fCtPreencUmCampo, nullptr, nullptr},
    {"fCtPreencTodoForm", "VexoControleApex.fCtPreencTodoForm", "self, pDictColsDePara, pJsonDados", nullptr, m_fCtPreencTodoForm, nullptr, nullptr},
    {"fPreencGridTitular", "VexoControleApex.fPreencGridTitular", "self, pDictColsDePara, pJsonDados",
     "\n        Preencher grid Titulares usando DictColsDePara[\"Titulares\"] e dados JSON\n        ",
     m_fPreencGridTitular, nullptr, nullptr},
    {"fPreencGridBeneficiario", "VexoControleApex.fPreencGridBeneficiario", "self, pDictColsDePara, pJsonDados", nullptr, m_fPreencGridBeneficiario, nullptr, nullptr},
    {"fCtApexPreencRepres", "VexoControleApex.fCtApexPreencRepres", "self, pDictColsDePara, pJsonDados", nullptr, m_fCtApexPreencRepres, nullptr, nullptr},
    {"fCtApexPreencDropDownList", "VexoControleApex.fCtApexPreencDropDownList", kM3, nullptr, m_fCtApexPreencDropDownList, nullptr, nullptr},
    {"fCtApexPreencPopupLovDesc", "VexoControleApex.fCtApexPreencPopupLovDesc", kM3, nullptr, m_fCtApexPreencPopupLovDesc, nullptr, nullptr},
    {"fCtApexPreencPopupLovId", "VexoControleApex.fCtApexPreencPopupLovId", kM3, nullptr, m_fCtApexPreencPopupLovId, nullptr, nullptr},
    {"fCtApexPreencMultiSelect", "VexoControleApex.fCtApexPreencMultiSelect", "self, pWebSel, pDbCamposValues, pTimeout=5000", nullptr, m_fCtApexPreencMultiSelect, nullptr, nullptr},
    {"fCtPopUpHtml", "VexoControleApex.fCtPopUpHtml", "self, pMsg='', pTituloBotao=''", nullptr, m_fCtPopUpHtml, nullptr, nullptr},
    {"fCtPreencText", "VexoControleApex.fCtPreencText", kM3, nullptr, m_fCtPreencText, nullptr, nullptr},
    {"fCtPreencCheckRadio", "VexoControleApex.fCtPreencCheckRadio", "self, pName, pDbCampoValue, pTimeout=5000", nullptr, m_fCtPreencCheckRadio, nullptr, nullptr},
    {"fCtPreencCheckMultiple", "VexoControleApex.fCtPreencCheckMultiple", kM3, nullptr, m_fCtPreencCheckMultiple, nullptr, nullptr},
    {"fCtPreencTextArea", "VexoControleApex.fCtPreencTextArea", kM3, nullptr, m_fCtPreencTextArea, nullptr, nullptr},
    {"fCtPreencDatepicker", "VexoControleApex.fCtPreencDatepicker", kM3, nullptr, m_fCtPreencDatepicker, nullptr, nullptr},
    {"fCtPreencAutoComplete", "VexoControleApex.fCtPreencAutoComplete", kM3, nullptr, m_fCtPreencAutoComplete, nullptr, nullptr},
    {"fCtPreencSwitch", "VexoControleApex.fCtPreencSwitch", kM3, nullptr, m_fCtPreencSwitch, nullptr, nullptr},
    {"fCtPreencCheckbox", "VexoControleApex.fCtPreencCheckbox", kM3, nullptr, m_fCtPreencCheckbox, nullptr, nullptr},
};

const char kClassDoc[] =
    "\n    Tavoric - Classe auxiliar framework profissional de preenchimento APEX Oracle\n    ";

// `from <module> import <attr>` once the module is imported: its attribute, or the
// ImportError the import statement raises for a missing one (the module's name and file in
// the message and in the error's name and path, as the interpreter words it).
Ref import_from(PyObject* module, const char* attr) {
  Ref wanted = text(attr);
  if (PyObject* v = PyObject_GetAttr(module, wanted.get())) return Ref::steal(v);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_current();
  PyErr_Clear();
  Ref modname = Ref::steal(PyObject_GetAttrString(module, "__name__"));
  if (!modname || !PyUnicode_Check(modname.get())) {
    PyErr_Clear();
    modname = Ref();
  }
  Ref shown = modname ? modname : text("<unknown module name>");
  Ref path = Ref::steal(PyModule_GetFilenameObject(module));
  if (!path) PyErr_Clear();
  Ref msg = path ? check(PyUnicode_FromFormat("cannot import name %R from %R (%S)", wanted.get(), shown.get(), path.get()))
                 : check(PyUnicode_FromFormat("cannot import name %R from %R (unknown location)", wanted.get(), shown.get()));
  Ref exc = call(PyExc_ImportError, msg.get());
  check(PyObject_SetAttrString(exc.get(), "name", modname ? modname.get() : Py_None));
  check(PyObject_SetAttrString(exc.get(), "path", path ? path.get() : Py_None));
  // Interpreters that record the missing name (3.12 on) do so in name_from.
  if (PyObject_HasAttrString(PyExc_ImportError, "name_from"))
    check(PyObject_SetAttrString(exc.get(), "name_from", wanted.get()));
  PyErr_SetObject(PyExc_ImportError, exc.get());
  throw_current();
}

int exec_module(PyObject* module) {
  if (!init_types()) return -1;
  PyObject* d = PyModule_GetDict(module);  // borrowed
  if (!init_state(d)) return -1;
  try {
    Ref modname = module_get(Ref(name("__name__")).get());
    // import asyncio, ctypes, sys
    for (const char* m : {"asyncio", "ctypes", "sys"}) {
      Ref mod = check(PyImport_ImportModule(m));
      check(PyDict_SetItemString(d, m, mod.get()));
    }
    // from .vexofuncoes import VexoFuncoes
    Ref fromlist = check(Py_BuildValue("(s)", "VexoFuncoes"));
    Ref sibling = check(PyImport_ImportModuleLevel("vexofuncoes", d, nullptr, fromlist.get(), 1));
    Ref cls = import_from(sibling.get(), "VexoFuncoes");
    check(PyDict_SetItemString(d, "VexoFuncoes", cls.get()));
    init_pacing(d);
    check(PyDict_SetItemString(d, "gDebugDev", Py_False));
    check(PyDict_SetItemString(d, "objfLog", Py_None));
    if (!add_functions(d, kFunctions, std::size(kFunctions), modname.get(), nullptr)) throw_current();

    Ref ns = check(PyDict_New());
    check(PyDict_SetItemString(ns.get(), "__module__", modname.get()));
    check(PyDict_SetItemString(ns.get(), "__qualname__", text("VexoControleApex").get()));
    check(PyDict_SetItemString(ns.get(), "__doc__", text(kClassDoc).get()));
    if (!add_functions(ns.get(), kMethods, std::size(kMethods), modname.get(), nullptr))
      throw_current();
    Ref klass = check(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s()O",
                                            "VexoControleApex", ns.get()));
    check(PyDict_SetItemString(d, "VexoControleApex", klass.get()));
    return 0;
  } catch (...) {
    set_error_from(std::current_exception());
    return -1;
  }
}

PyModuleDef_Slot kSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "vexocontrole",
                       "Fills Oracle APEX forms through a Playwright page.", 0, nullptr, kSlots,
                       nullptr, nullptr, nullptr};

}  // namespace
}  // namespace zv::vc

PyMODINIT_FUNC PyInit_vexocontrole() { return PyModuleDef_Init(&zv::vc::kModule); }
