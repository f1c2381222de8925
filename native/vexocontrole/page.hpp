// The page and locator operations the fills use, each called with the keywords the
// callers' pages expect. Awaited operations return the awaitable; the fill co_awaits it.
#pragma once
#include "state.hpp"

namespace zv::vc::pg {

// page.locator(selector) — plain
inline Ref locator(PyObject* page, PyObject* sel) { return call_method(page, N->locator.get(), sel); }
// locator.first — plain
inline Ref first(PyObject* loc) { return getattr(loc, N->first.get()); }

// page.wait_for_selector(sel, state=..., timeout=...); state nullptr: omitted (visible)
inline Ref wait_for_selector(PyObject* page, PyObject* sel, PyObject* state, PyObject* timeout) {
  if (state)
    return call_method_kw(page, N->wait_for_selector.get(), 1, N->kw_state_timeout.get(), sel, state, timeout);
  return call_method_kw(page, N->wait_for_selector.get(), 1, N->kw_timeout.get(), sel, timeout);
}
// page.wait_for_function(script, timeout=...)
inline Ref wait_for_function(PyObject* page, PyObject* script, PyObject* timeout) {
  return call_method_kw(page, N->wait_for_function.get(), 1, N->kw_timeout.get(), script, timeout);
}
// page.wait_for_function(script, arg=..., polling=..., timeout=...)
inline Ref wait_for_function(PyObject* page, PyObject* script, PyObject* arg, PyObject* polling,
                             PyObject* timeout) {
  return call_method_kw(page, N->wait_for_function.get(), 1, N->kw_arg_polling_timeout.get(), script,
                        arg, polling, timeout);
}
// page.wait_for_timeout(ms)
inline Ref wait_for_timeout(PyObject* page, PyObject* ms) {
  return call_method(page, N->wait_for_timeout.get(), ms);
}
// page.evaluate(script) / page.evaluate(script, arg)
inline Ref evaluate(PyObject* page, PyObject* script) { return call_method(page, N->evaluate.get(), script); }
inline Ref evaluate(PyObject* page, PyObject* script, PyObject* arg) {
  return call_method(page, N->evaluate.get(), script, arg);
}
// page.click(selector)
inline Ref click(PyObject* page, PyObject* sel) { return call_method(page, N->click.get(), sel); }
// page.select_option(selector, value=..., timeout=...)
inline Ref select_option(PyObject* page, PyObject* sel, PyObject* value, PyObject* timeout) {
  return call_method_kw(page, N->select_option.get(), 1, N->kw_value_timeout.get(), sel, value, timeout);
}
// page.keyboard.press(key); a Frame has no keyboard: its page's takes the key.
Ref press(PyObject* page, PyObject* key);

// locator.count() / .is_enabled() / .scroll_into_view_if_needed() / .click() / .check()
inline Ref count(PyObject* loc) { return call_method(loc, N->count.get()); }
inline Ref is_enabled(PyObject* loc) { return call_method(loc, N->is_enabled.get()); }
inline Ref scroll_into_view(PyObject* loc) {
  return call_method(loc, N->scroll_into_view_if_needed.get());
}
inline Ref click(PyObject* loc) { return call_method(loc, N->click.get()); }
// locator.click(timeout=...)
inline Ref click_within(PyObject* loc, PyObject* timeout) {
  return call_method_kw(loc, N->click.get(), 0, N->kw_timeout.get(), timeout);
}
inline Ref check(PyObject* loc) { return call_method(loc, N->check.get()); }
// locator.wait_for(state=..., timeout=...)
inline Ref wait_for(PyObject* loc, PyObject* state, PyObject* timeout) {
  return call_method_kw(loc, N->wait_for.get(), 0, N->kw_state_timeout.get(), state, timeout);
}

// A list [a, b, ...] for evaluate's argument.
Ref list_of(PyObject* const* items, std::size_t n);
template <class... A>
Ref list(A... items) {
  PyObject* v[] = {items...};
  return list_of(v, sizeof...(A));
}

}  // namespace zv::vc::pg
