// What the data says for a switch or a single check box: on (true, 1, "S", "Sim", "true",
// "1"), off (false, 0, "N", "Não", "nao", "false", "0"), a text that may be one of the item's
// own two values, or something that can be neither. Shared by the fill and the receipt.
#pragma once
#include "state.hpp"

namespace zv::vc {

enum class OnOff { on, off, own, invalid };

inline OnOff on_off_of(PyObject* v) {
  static constexpr const char* kOn[] = {"true", "1", "s", "sim"};
  static constexpr const char* kOff[] = {"false", "0", "n", "não", "nao"};
  if (PyBool_Check(v)) return v == Py_True ? OnOff::on : OnOff::off;
  if (PyLong_Check(v) || PyFloat_Check(v)) {
    if (py_equal(v, N->one.get())) return OnOff::on;
    if (py_equal(v, N->zero.get())) return OnOff::off;
    return OnOff::invalid;
  }
  if (!PyUnicode_Check(v)) return OnOff::invalid;
  Ref word = call_method(trimmed_text(v).get(), N->lower.get());
  for (const char* w : kOn)
    if (py_equal(word.get(), intern_text(w))) return OnOff::on;
  for (const char* w : kOff)
    if (py_equal(word.get(), intern_text(w))) return OnOff::off;
  return OnOff::own;
}

}  // namespace zv::vc
