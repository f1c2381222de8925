// Small helpers the form fills share: reading the caller's mapping and data dictionaries
// with Python's own semantics, and the lines that open a fill.
#pragma once
#include "state.hpp"

namespace zv::vc::form {

// obj[key]
inline Ref item(PyObject* obj, PyObject* key) { return check(PyObject_GetItem(obj, key)); }
// obj[key] = value
inline void set_item(PyObject* obj, PyObject* key, PyObject* value) {
  check(PyObject_SetItem(obj, key, value));
}
// key in obj
inline bool has(PyObject* obj, PyObject* key) { return check(PySequence_Contains(obj, key)) != 0; }

// `for key, value in mapping.items():`, one pair per next(). The iterator is taken when
// the walk is made; each pair is unpacked as Python unpacks it.
class Items {
 public:
  explicit Items(PyObject* mapping) {
    Ref view = call_method(mapping, N->items.get());
    it_ = check(PyObject_GetIter(view.get()));
  }

  // Moves to the next pair; false at the end.
  bool next() {
    Ref pair = Ref::steal(PyIter_Next(it_.get()));
    if (!pair) {
      if (PyErr_Occurred()) throw_current();
      key_.reset();
      value_.reset();
      return false;
    }
    if (PyTuple_CheckExact(pair.get()) && PyTuple_GET_SIZE(pair.get()) == 2) {
      key_ = Ref::borrow(PyTuple_GET_ITEM(pair.get(), 0));
      value_ = Ref::borrow(PyTuple_GET_ITEM(pair.get(), 1));
      return true;
    }
    unpack(pair.get());
    return true;
  }

  PyObject* key() const noexcept { return key_.get(); }
  PyObject* value() const noexcept { return value_.get(); }

 private:
  void unpack(PyObject* pair) {
    PyObject* it = PyObject_GetIter(pair);
    if (!it) {
      if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                     compat::TypeName(pair).c_str());
      }
      throw_current();
    }
    Ref iter = Ref::steal(it);
    Ref got[2];
    for (int i = 0; i < 2; ++i) {
      got[i] = Ref::steal(PyIter_Next(iter.get()));
      if (!got[i]) {
        if (!PyErr_Occurred())
          PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", i);
        throw_current();
      }
    }
    Ref extra = Ref::steal(PyIter_Next(iter.get()));
    if (extra) {
      PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
      throw_current();
    }
    if (PyErr_Occurred()) throw_current();
    key_ = std::move(got[0]);
    value_ = std::move(got[1]);
  }

  Ref it_, key_, value_;
};

// The lines that open the whole-form fill and the representatives fill: a rule, then
// what was received (both carry the whole-form fill's name).
inline void log_received(PyObject* pDictColsDePara, PyObject* pJsonDados, const char* rule) {
  log_info(text(rule));
  log_info(message("VexoControleApex -> fCtPreencTodoForm -> configs recebidos: ", pDictColsDePara));
  log_info(message("VexoControleApex -> fCtPreencTodoForm -> data recebida: ", pJsonDados));
}

}  // namespace zv::vc::form
