// Whether an item is being refreshed (a cascading list whose parent changed, its options on
// their way from the server), and the wait for that refresh to end: one helper for every fill
// whose value must be among the item's options.
#pragma once
#include "state.hpp"

namespace zv::vc {

// Asks the page whether the item `item_id` is being refreshed; when it is, waits for the
// refresh to end (at most 30 s, polled in the page) and gives true: the caller tries its value
// again. Gives false when nothing refreshes the item (one page script, no line), and false when
// the refresh outlasts the bound (said in a warning line while debug is on). `owner` and `sel`
// name the fill and the item in the lines.
Task<bool> refresh_ended(PyObject* page, PyObject* item_id, const char* owner, PyObject* sel);

}  // namespace zv::vc
