// Where a popup LOV item's dialog lives. APEX builds it with the top window's jQuery
// (apex.util.getTopApex): for an item of a modal dialog page, a frame below the page's main
// frame, that is the top document; for an item of the page itself, the item's own document.
// Every popup LOV step (open, row search, close, the adaptive conditions) asks this one
// question here and tells its page script the answer.
#pragma once
#include "state.hpp"

namespace zv::vc {

// True when `target` is a Playwright Frame below its page's main frame, of the main frame's
// origin: its popup LOV dialogs are in the top document. A Page, a main frame, or a frame of
// another origin (whose APEX cannot reach the top window) keeps them in its own document.
bool lov_in_top(PyObject* target);

}  // namespace zv::vc
