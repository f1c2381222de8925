// The controller's delegating methods: each awaits the module function of the same name
// (looked up at each call) with the controller's page in front of its own arguments.
#include "bodies.hpp"

namespace zv::vc {

namespace {

Ref page_of(PyObject* self) { return getattr(self, N->page.get()); }

Ref function_named(const char* n) { return module_get(Ref(name(n)).get()); }

}  // namespace

Task<Ref> m_fCtApexWaitStable(Call c) {
  Ref fn = module_get(N->fCtApexWaitStable.get());
  co_await call(fn.get(), page_of(c.arg(0)).get());
  co_return none();
}

// (self, a, b, c) -> module function (page, a, b, c)
#define ZV_FORWARD3(method)                                                               \
  Task<Ref> m_##method(Call c) {                                                          \
    Ref fn = function_named(#method);                                                     \
    co_await call(fn.get(), page_of(c.arg(0)).get(), c.arg(1), c.arg(2), c.arg(3));       \
    co_return none();                                                                     \
  }

ZV_FORWARD3(fCtApexPreencDropDownList)
ZV_FORWARD3(fCtApexPreencPopupLovId)
ZV_FORWARD3(fCtApexPreencMultiSelect)
ZV_FORWARD3(fCtPreencText)
ZV_FORWARD3(fCtPreencCheckRadio)
ZV_FORWARD3(fCtPreencCheckMultiple)
ZV_FORWARD3(fCtPreencTextArea)
ZV_FORWARD3(fCtPreencDatepicker)
ZV_FORWARD3(fCtPreencAutoComplete)
ZV_FORWARD3(fCtPreencSwitch)
ZV_FORWARD3(fCtPreencCheckbox)
#undef ZV_FORWARD3

// The description fill's own fourth parameter is the display text; the method's time
// limit goes to its pTimeout, and the display text keeps its default.
Task<Ref> m_fCtApexPreencPopupLovDesc(Call c) {
  Ref fn = function_named("fCtApexPreencPopupLovDesc");
  co_await call_kw(fn.get(), 3, N->kw_pTimeout.get(), page_of(c.arg(0)).get(), c.arg(1), c.arg(2),
                   c.arg(3));
  co_return none();
}

Task<Ref> m_fCtPopUpHtml(Call c) {
  Ref fn = function_named("fCtPopUpHtml");
  co_await call(fn.get(), page_of(c.arg(0)).get(), c.arg(1), c.arg(2));
  co_return none();
}

}  // namespace zv::vc
