#include "lov_home.hpp"

#include <string_view>

namespace zv::vc {

namespace {

// scheme://host[:port] of a URL; empty for a URL without an authority (about:, data:) and
// for file: URLs, which Chromium gives each an origin of its own.
std::string_view origin_of(std::string_view url) {
  const auto sep = url.find("://");
  if (sep == std::string_view::npos || url.substr(0, sep) == "file") return {};
  const auto end = url.find_first_of("/?#", sep + 3);
  return url.substr(0, end);
}

std::string_view utf8_of(PyObject* s) {
  if (!PyUnicode_Check(s)) return {};
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(s, &n);
  if (!p) throw_current();
  return {p, static_cast<std::size_t>(n)};
}

// o.<attr>, or a null Ref when o has no such attribute.
Ref attr_or_null(PyObject* o, PyObject* attr) {
  PyObject* v = PyObject_GetAttr(o, attr);
  if (v) return Ref::steal(v);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_current();
  PyErr_Clear();
  return Ref();
}

}  // namespace

bool lov_in_top(PyObject* target) {
  // A page (it has the keyboard) is its own top.
  if (attr_or_null(target, N->keyboard.get())) return false;
  Ref parent = attr_or_null(target, ZV_STR("parent_frame"));
  if (!parent || parent.get() == Py_None) return false;
  Ref page = getattr(target, N->page.get());
  Ref main = getattr(page.get(), ZV_STR("main_frame"));
  Ref url = getattr(target, ZV_STR("url"));
  Ref topUrl = getattr(main.get(), ZV_STR("url"));
  const std::string_view origin = origin_of(utf8_of(url.get()));
  return !origin.empty() && origin == origin_of(utf8_of(topUrl.get()));
}

}  // namespace zv::vc
