#include "fills/usable_item.hpp"

#include "page.hpp"

namespace zv::vc {

Task<Ref> usable_item(PyObject* page, PyObject* sel, PyObject* locator, PyObject* timeout,
                      const char* missing_line, const char* disabled_line) {
  co_await pg::wait_for_selector(page, sel, N->attached.get(), timeout);
  Ref n = co_await pg::count(locator);
  if (py_equal(n.get(), N->zero.get())) {
    if (debug_on()) log_warning(message(missing_line, sel));
    co_return Ref();
  }
  Ref first = pg::first(locator);
  co_await pg::wait_for(first.get(), N->visible.get(), timeout);
  Ref enabled = co_await pg::is_enabled(first.get());
  if (!truthy(enabled.get())) {
    if (debug_on()) log_warning(message(disabled_line, sel));
    co_return Ref();
  }
  co_return first;
}

}  // namespace zv::vc
