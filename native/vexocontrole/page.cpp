#include "page.hpp"

namespace zv::vc::pg {

Ref list_of(PyObject* const* items, std::size_t n) {
  Ref l = zv::check(PyList_New(static_cast<Py_ssize_t>(n)));
  for (std::size_t i = 0; i < n; ++i) PyList_SET_ITEM(l.get(), i, Py_NewRef(items[i]));
  return l;
}

}  // namespace zv::vc::pg
