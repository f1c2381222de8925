// Module vexofuncoes: its globals in their order, the class VexoFuncoes with the logger
// factory, and the command line when the module runs as the main program.
#include "vexofuncoes/funcoes.hpp"

namespace zv::vf {
namespace {

const FuncSpec kFLog = {
    "fLog", "VexoFuncoes.fLog",
    "cls, pSiLog: int = 0, pSiLogTipo: int = 0, pSiLogPrefixo: str = '', "
    "pArqLogNome: str = 'MorvelPy.log', pArqLogMaxBytes: int = 1000000, pArqLogQtd: int = 1, "
    "pDebugDev: bool = True",
    nullptr, nullptr, fLog, "'logging.Logger'"};

// from <module> import <name>
Ref import_from(const char* module, const char* attr) {
  Ref m = check(PyImport_ImportModule(module));
  return check(PyObject_GetAttrString(m.get(), attr));
}

int exec_module(PyObject* module) {
  if (!init_types()) return -1;
  PyObject* g = PyModule_GetDict(module);  // borrowed
  try {
    Ref modname = global(g, ZF_STR("__name__"));
    for (const char* m : {"os", "sys", "logging"}) {
      Ref mod = check(PyImport_ImportModule(m));
      check(PyDict_SetItemString(g, m, mod.get()));
    }
    check(PyDict_SetItemString(g, "RotatingFileHandler",
                               import_from("logging.handlers", "RotatingFileHandler").get()));
    check(PyDict_SetItemString(g, "MappingProxyType", import_from("types", "MappingProxyType").get()));

    // class VexoFuncoes: _logger_cache = {}; fLog = classmethod(...)
    // The factory's closure is the module's dict: it reads the module's globals at each call.
    Ref ns = check(PyDict_New());
    check(PyDict_SetItemString(ns.get(), "__module__", modname.get()));
    check(PyDict_SetItemString(ns.get(), "__qualname__", text("VexoFuncoes").get()));
    Ref cache = check(PyDict_New());
    check(PyDict_SetItemString(ns.get(), "_logger_cache", cache.get()));
    Ref func = check(make_function(&kFLog, modname.get(), g));
    Ref method = check(compat::classmethod_new(func.get()));
    check(PyDict_SetItemString(ns.get(), "fLog", method.get()));
    Ref klass = check(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s()O",
                                            "VexoFuncoes", ns.get()));
    check(PyDict_SetItemString(g, "VexoFuncoes", klass.get()));

    if (PyUnicode_Check(modname.get()) && PyUnicode_CompareWithASCIIString(modname.get(), "__main__") == 0)
      command_line(g);
    return 0;
  } catch (...) {
    set_error_from(std::current_exception());
    return -1;
  }
}

PyModuleDef_Slot kSlots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "vexofuncoes", "Builds the loggers of ziveviver.", 0,
                       nullptr, kSlots, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace zv::vf

PyMODINIT_FUNC PyInit_vexofuncoes() { return PyModuleDef_Init(&zv::vf::kModule); }

// The same module under the name "__main__": loading this file as the main module (the
// console script does) runs the command line.
PyMODINIT_FUNC PyInit___main__() { return PyModuleDef_Init(&zv::vf::kModule); }
