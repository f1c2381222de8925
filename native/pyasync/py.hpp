// Small helpers for calling Python from the bodies: calls with keywords, text, and the
// messages the log lines are made of.
#pragma once
#include "pyasync/ref.hpp"

#include <cstddef>
#include <string_view>

namespace zv {

// A Python str from UTF-8 text.
inline Ref text(std::string_view s) {
  return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
// An interned str, for attribute and keyword names.
inline Ref name(const char* s) { return check(PyUnicode_InternFromString(s)); }

inline Ref str(PyObject* o) { return check(PyObject_Str(o)); }
inline Ref repr(PyObject* o) { return check(PyObject_Repr(o)); }
inline Ref getattr(PyObject* o, PyObject* attr) { return check(PyObject_GetAttr(o, attr)); }
inline bool truthy(PyObject* o) { return check(PyObject_IsTrue(o)) != 0; }

// The call helpers take their arguments as parameter packs, not initializer lists: g++ 12
// cannot keep an initializer list's backing array in a coroutine frame.
Ref vcall_method(PyObject* method, PyObject** self_and_args, std::size_t npos, PyObject* kwnames);
Ref vcall(PyObject* f, PyObject** args_plus_one, std::size_t npos, PyObject* kwnames);

// obj.method(*args)
template <class... A>
Ref call_method(PyObject* obj, PyObject* method, A... args) {
  PyObject* v[] = {obj, args..., nullptr};
  return vcall_method(method, v, sizeof...(A), nullptr);
}
// obj.method(*args[:npos], **dict(zip(kwnames, args[npos:])))
template <class... A>
Ref call_method_kw(PyObject* obj, PyObject* method, std::size_t npos, PyObject* kwnames, A... args) {
  PyObject* v[] = {obj, args..., nullptr};
  return vcall_method(method, v, npos, kwnames);
}
// f(*args)
template <class... A>
Ref call(PyObject* f, A... args) {
  PyObject* v[] = {nullptr, args..., nullptr};
  return vcall(f, v, sizeof...(A), nullptr);
}
// f(*args[:npos], **dict(zip(kwnames, args[npos:])))
template <class... A>
Ref call_kw(PyObject* f, std::size_t npos, PyObject* kwnames, A... args) {
  PyObject* v[] = {nullptr, args..., nullptr};
  return vcall(f, v, npos, kwnames);
}

// A piece of a message: literal text, or an object in its text form (str) or repr.
struct Piece {
  enum Kind { lit, str_of, repr_of } kind;
  std::string_view s;
  PyObject* o;
  Piece(const char* t) : kind(lit), s(t), o(nullptr) {}
  Piece(std::string_view t) : kind(lit), s(t), o(nullptr) {}
  Piece(PyObject* x) : kind(str_of), s(), o(x) {}
  Piece(const Ref& x) : kind(str_of), s(), o(x.get()) {}
};
inline Piece repr_of(PyObject* o) {
  Piece p(o);
  p.kind = Piece::repr_of;
  return p;
}

Ref join_pieces(const Piece* pieces, std::size_t n);

// Joins the pieces into one str: message("fCtPreencText -> Campo preenchido: ", sel).
template <class... A>
Ref message(const A&... a) {
  const Piece pieces[] = {Piece(a)...};
  return join_pieces(pieces, sizeof...(A));
}

}  // namespace zv
