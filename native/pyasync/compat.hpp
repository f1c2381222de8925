// Differences between the CPython versions we build for (3.11 to 3.14), in one place.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>

namespace zv::compat {

// Takes the raised exception out of the error indicator, normalised, with its traceback
// attached. Returns a new reference, or nullptr when no error is set.
inline PyObject* fetch_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  if (!type) return nullptr;
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb && value) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
#endif
}

// Puts an exception (a reference is stolen) back into the error indicator.
inline void raise_exception(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyObject* tb = PyException_GetTraceback(exc);
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
  Py_INCREF(type);
  PyErr_Restore(type, exc, tb);
#endif
}

// The value carried by a StopIteration instance (borrowed).
inline PyObject* stop_iteration_value(PyObject* exc) {
  return reinterpret_cast<PyStopIterationObject*>(exc)->value;
}

}  // namespace zv::compat
