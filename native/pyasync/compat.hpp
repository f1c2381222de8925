// Differences between the CPython versions we build for (3.11 to 3.14), in one place, and
// between the full C API (the default build) and the limited API 3.12 (the abi3 build:
// ZV_LIMITED_API, Py_LIMITED_API=0x030C0000). Under the full API every helper below is the
// plain macro or field access it names; the limited build replaces each with the stable-ABI
// call that gives the same result.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <structmember.h>

#ifdef Py_LIMITED_API
#if Py_LIMITED_API + 0 < 0x030C0000
#error "the limited-API build needs Py_LIMITED_API 3.12 or later (vectorcall, raised exceptions)"
#endif

// The accessor macros the limited API lacks. The checked functions return the same items
// for the valid indices the code uses (and the same borrowed references); the setters steal
// as the macros do.
#ifndef PyTuple_GET_ITEM
#define PyTuple_GET_ITEM(t, i) PyTuple_GetItem((t), (i))
#endif
#ifndef PyTuple_GET_SIZE
#define PyTuple_GET_SIZE(t) PyTuple_Size(t)
#endif
#ifndef PyTuple_SET_ITEM
#define PyTuple_SET_ITEM(t, i, v) ((void)PyTuple_SetItem((t), (i), (v)))
#endif
#ifndef PyList_GET_ITEM
#define PyList_GET_ITEM(l, i) PyList_GetItem((l), (i))
#endif
#ifndef PyList_GET_SIZE
#define PyList_GET_SIZE(l) PyList_Size(l)
#endif
#ifndef PyList_SET_ITEM
#define PyList_SET_ITEM(l, i, v) ((void)PyList_SetItem((l), (i), (v)))
#endif
#ifndef PySequence_Fast_GET_SIZE
#define PySequence_Fast_GET_SIZE(s) PySequence_Size(s)
#endif
#ifndef PySequence_Fast_GET_ITEM
#define PySequence_Fast_GET_ITEM(s, i) \
  (PyList_Check(s) ? PyList_GetItem((s), (i)) : PyTuple_GetItem((s), (i)))
#endif
#ifndef PyUnicode_GET_LENGTH
#define PyUnicode_GET_LENGTH(o) PyUnicode_GetLength(o)
#endif
#ifndef PyFloat_AS_DOUBLE
#define PyFloat_AS_DOUBLE(o) PyFloat_AsDouble(o)
#endif

// Functions of the full API that have a limited spelling.
inline const char* PyUnicode_AsUTF8(PyObject* o) { return PyUnicode_AsUTF8AndSize(o, nullptr); }
inline PyObject* PyObject_CallOneArg(PyObject* f, PyObject* arg) {
  PyObject* v[2] = {nullptr, arg};
  return PyObject_Vectorcall(f, v + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}
inline PyObject* PyObject_CallMethodNoArgs(PyObject* self, PyObject* name) {
  return PyObject_VectorcallMethod(name, &self, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}
#endif  // Py_LIMITED_API

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

#ifndef Py_LIMITED_API

// The value carried by a StopIteration instance (a new reference).
inline PyObject* stop_iteration_value(PyObject* exc) {
  return Py_NewRef(reinterpret_cast<PyStopIterationObject*>(exc)->value);
}

// Readies what the helpers below need (nothing, under the full API).
inline bool init() { return true; }

inline bool is_coroutine_exact(PyObject* o) { return PyCoro_CheckExact(o); }
inline bool is_generator_exact(PyObject* o) { return PyGen_CheckExact(o); }

// True when the code object carries CO_ITERABLE_COROUTINE (a @types.coroutine generator).
inline bool is_iterable_coroutine_code(PyObject* code) {
  return (reinterpret_cast<PyCodeObject*>(code)->co_flags & CO_ITERABLE_COROUTINE) != 0;
}

// Frees an object's memory at the end of its type's tp_dealloc.
inline void free_object(PyObject* self) { Py_TYPE(self)->tp_free(self); }

// Runs tp_finalize from tp_dealloc; -1 when the finalizer resurrected the object.
inline int finalize_from_dealloc(PyObject* self, void (*)(PyObject*)) {
  return PyObject_CallFinalizerFromDealloc(self);
}

// A bound method of `f` on `self`.
inline PyObject* method_new(PyObject* f, PyObject* self) { return PyMethod_New(f, self); }

// classmethod(f)
inline PyObject* classmethod_new(PyObject* f) { return PyClassMethod_New(f); }

// The name CPython's own messages give an object's type (tp_name), for "%s".
class TypeName {
 public:
  explicit TypeName(PyTypeObject* t) noexcept : s_(t->tp_name) {}
  explicit TypeName(PyObject* o) noexcept : s_(Py_TYPE(o)->tp_name) {}
  TypeName(const TypeName&) = delete;
  TypeName& operator=(const TypeName&) = delete;
  const char* c_str() const noexcept { return s_; }

 private:
  const char* s_;
};

#else  // Py_LIMITED_API

// Types the limited API does not name, looked up once per extension module.
inline PyObject* g_coroutine_type = nullptr;
inline PyObject* g_generator_type = nullptr;
inline PyObject* g_method_type = nullptr;
inline PyObject* g_classmethod_type = nullptr;

inline bool init() {
  if (g_coroutine_type) return true;
  PyObject* types = PyImport_ImportModule("types");
  if (!types) return false;
  PyObject* coroutine = PyObject_GetAttrString(types, "CoroutineType");
  PyObject* generator = PyObject_GetAttrString(types, "GeneratorType");
  PyObject* method = PyObject_GetAttrString(types, "MethodType");
  Py_DECREF(types);
  PyObject* classmethod = PyDict_GetItemString(PyEval_GetBuiltins(), "classmethod");
  if (!coroutine || !generator || !method || !classmethod) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "builtins.classmethod is missing");
    Py_XDECREF(coroutine);
    Py_XDECREF(generator);
    Py_XDECREF(method);
    return false;
  }
  g_generator_type = generator;
  g_method_type = method;
  g_classmethod_type = Py_NewRef(classmethod);
  g_coroutine_type = coroutine;
  return true;
}

inline PyObject* stop_iteration_value(PyObject* exc) {
  PyObject* v = PyObject_GetAttrString(exc, "value");
  if (!v) {
    PyErr_Clear();
    v = Py_NewRef(Py_None);
  }
  return v;
}

inline bool is_coroutine_exact(PyObject* o) {
  return reinterpret_cast<PyObject*>(Py_TYPE(o)) == g_coroutine_type;
}
inline bool is_generator_exact(PyObject* o) {
  return reinterpret_cast<PyObject*>(Py_TYPE(o)) == g_generator_type;
}

inline bool is_iterable_coroutine_code(PyObject* code) {
  constexpr long long kIterableCoroutine = 0x0100;  // CO_ITERABLE_COROUTINE
  PyObject* flags = PyObject_GetAttrString(code, "co_flags");
  long long f = flags ? PyLong_AsLongLong(flags) : 0;
  Py_XDECREF(flags);
  if (PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  return (f & kIterableCoroutine) != 0;
}

// The type's __await__ slot, or nullptr. PyType_GetSlot reads static types' slots too (3.10+).
inline unaryfunc am_await(PyTypeObject* t) {
  return reinterpret_cast<unaryfunc>(PyType_GetSlot(t, Py_am_await));
}

// Only the bridge's own types come here: garbage-collected heap types made by
// PyType_FromSpec without a tp_free of their own, whose tp_free is PyObject_GC_Del.
inline void free_object(PyObject* self) { PyObject_GC_Del(self); }

// What PyObject_CallFinalizerFromDealloc does, with the limited API: bring the object back
// to one reference while the finalizer runs, then see whether it gained any. The finalizers
// passed here are idempotent (a second call, after the collector's, does nothing), so the
// "already finalized" mark the full API keeps is not needed.
inline int finalize_from_dealloc(PyObject* self, void (*finalize)(PyObject*)) {
  Py_SET_REFCNT(self, 1);
  finalize(self);
  Py_ssize_t refcnt = Py_REFCNT(self) - 1;
  Py_SET_REFCNT(self, refcnt);
  return refcnt == 0 ? 0 : -1;
}

inline PyObject* method_new(PyObject* f, PyObject* self) {
  PyObject* v[3] = {nullptr, f, self};
  return PyObject_Vectorcall(g_method_type, v + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

inline PyObject* classmethod_new(PyObject* f) {
  return PyObject_CallOneArg(g_classmethod_type, f);
}

// tp_name rebuilt from the type's attributes: a static type's name carries its module
// ("module.Name", builtins bare), a heap type's is its __name__. Never fails; a pending
// error is kept as it is.
class TypeName {
 public:
  explicit TypeName(PyObject* o) : TypeName(Py_TYPE(o)) {}
  explicit TypeName(PyTypeObject* t) {
    PyObject* saved = PyErr_GetRaisedException();
    str_ = PyType_GetName(t);
    if (str_ && !(PyType_GetFlags(t) & Py_TPFLAGS_HEAPTYPE)) {
      PyObject* mod = PyObject_GetAttrString(reinterpret_cast<PyObject*>(t), "__module__");
      if (mod && PyUnicode_Check(mod) && PyUnicode_CompareWithASCIIString(mod, "builtins") != 0) {
        PyObject* full = PyUnicode_FromFormat("%U.%U", mod, str_);
        Py_DECREF(str_);
        str_ = full;
      }
      Py_XDECREF(mod);
    }
    s_ = str_ ? PyUnicode_AsUTF8AndSize(str_, nullptr) : nullptr;
    if (!s_) s_ = "?";
    PyErr_Clear();
    PyErr_SetRaisedException(saved);
  }
  ~TypeName() { Py_XDECREF(str_); }
  TypeName(const TypeName&) = delete;
  TypeName& operator=(const TypeName&) = delete;
  const char* c_str() const noexcept { return s_; }

 private:
  PyObject* str_ = nullptr;
  const char* s_ = nullptr;
};

#endif  // Py_LIMITED_API

}  // namespace zv::compat
