#include "page.hpp"

namespace zv::vc::pg {

Ref list_of(PyObject* const* items, std::size_t n) {
  Ref l = zv::check(PyList_New(static_cast<Py_ssize_t>(n)));
  for (std::size_t i = 0; i < n; ++i) PyList_SET_ITEM(l.get(), i, Py_NewRef(items[i]));
  return l;
}

Ref press(PyObject* page, PyObject* key) {
  PyObject* kb = PyObject_GetAttr(page, N->keyboard.get());
  if (!kb) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_current();
    PyErr_Clear();
    Ref owner = getattr(page, N->page.get());
    kb = zv::check(PyObject_GetAttr(owner.get(), N->keyboard.get())).release();
  }
  Ref keyboard = Ref::steal(kb);
  return call_method(keyboard.get(), N->press.get(), key);
}

}  // namespace zv::vc::pg
