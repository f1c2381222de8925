// Module vexocontrole: its globals in their order, the function table and the controller class.
#include "bodies.hpp"
#include "scripts.hpp"

namespace zv::vc {
namespace {

// Module-level coroutine functions, in the module's order.
const FuncSpec kFunctions[] = {
    {"fCtRetry", nullptr, "pFunction, pRetries=3, pDelay=0.5, pTimeout=10",
     "\n    Executar funcao async com retry automatico\n    ", fCtRetry, nullptr, nullptr},
    {"fCtPreencText", nullptr, "pPage, pWebSel, pDbCampoValue, pTimeout=5000", nullptr,
     fCtPreencText, nullptr, nullptr},
    {"fCtPreencTextArea", nullptr, "pPage, pWebSel, pDbCampoValue, pTimeout=5000", nullptr,
     fCtPreencTextArea, nullptr, nullptr},
    {"fCtPreencAutoComplete", nullptr, "pPage, pWebSel, pDbCampoValue, pTimeout=5000", nullptr,
     fCtPreencAutoComplete, nullptr, nullptr},
};

// VexoControleApex's methods, in the class body's order.
const FuncSpec kMethods[] = {
    {"__init__", "VexoControleApex.__init__", "self, page, pDebugDev: bool = False", nullptr,
     nullptr, controller_init, nullptr},
};

const char kClassDoc[] =
    "\n    Tavoric - Classe auxiliar framework profissional de preenchimento APEX Oracle\n    ";

int exec_module(PyObject* module) {
  if (!init_types()) return -1;
  PyObject* d = PyModule_GetDict(module);  // borrowed
  if (!init_state(d) || !init_scripts()) return -1;
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
    Ref cls = check(PyObject_GetAttrString(sibling.get(), "VexoFuncoes"));
    check(PyDict_SetItemString(d, "VexoFuncoes", cls.get()));
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
