#include "pyasync/py.hpp"

namespace zv {

Ref vcall_method(PyObject* method, PyObject** v, std::size_t npos, PyObject* kwnames) {
  return check(PyObject_VectorcallMethod(method, v, (1 + npos) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

Ref vcall(PyObject* f, PyObject** v, std::size_t npos, PyObject* kwnames) {
  return check(PyObject_Vectorcall(f, v + 1, npos | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

Ref join_pieces(const Piece* pieces, std::size_t n) {
  Ref parts = check(PyList_New(0));
  for (std::size_t i = 0; i < n; ++i) {
    const Piece& p = pieces[i];
    Ref s;
    switch (p.kind) {
      case Piece::lit: s = text(p.s); break;
      case Piece::str_of: s = str(p.o); break;
      case Piece::repr_of: s = repr(p.o); break;
    }
    check(PyList_Append(parts.get(), s.get()));
  }
  Ref empty = text("");
  return check(PyUnicode_Join(empty.get(), parts.get()));
}

}  // namespace zv
