// Placeholder until the logger factory lands.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
static PyObject* fLog(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) { Py_RETURN_NONE; }
static PyMethodDef methods[] = {{nullptr, nullptr, 0, nullptr}};
static int exec_module(PyObject* m) {
  PyObject* cls = PyObject_CallFunction((PyObject*)&PyType_Type, "s(){}", "VexoFuncoes");
  if (!cls) return -1;
  (void)fLog;
  return PyModule_AddObject(m, "VexoFuncoes", cls);
}
static PyModuleDef_Slot slots[] = {{Py_mod_exec, (void*)exec_module}, {0, nullptr}};
static PyModuleDef def = {PyModuleDef_HEAD_INIT, "vexofuncoes", nullptr, 0, methods, slots, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit_vexofuncoes() { return PyModuleDef_Init(&def); }
