// The checks a single-item fill makes before it writes, shared by the text, date picker and
// select list fills.
#pragma once
#include "state.hpp"

namespace zv::vc {

// Waits for `sel` to be attached, counts the locator's matches, waits for the first to be
// visible and asks whether it is enabled. Gives the first match, or an empty Ref after logging
// (debug only) `missing_line` or `disabled_line` followed by the selector. Errors of the page
// operations go to the caller's guard.
Task<Ref> usable_item(PyObject* page, PyObject* sel, PyObject* locator, PyObject* timeout,
                      const char* missing_line, const char* disabled_line);

}  // namespace zv::vc
