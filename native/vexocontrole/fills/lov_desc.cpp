// fCtApexPreencPopupLovDesc: sets a popup LOV item from rows already present in the page,
// matched by display text (any letter case) or by return value. Opens, pages and closes
// nothing; three attempts through the retry wrapper, the last error goes to the caller.
#include "bodies.hpp"
#include "lov_home.hpp"
#include "page.hpp"

namespace zv::vc {

// The attempt; closure: (page, selector, value text, display text, whether the item's
// dialog is in the top document).
static Task<Ref> lov_desc_attempt(Call c) {
  PyObject* page = c.cap(0);
  PyObject* sel = c.cap(1);
  PyObject* val = c.cap(2);
  PyObject* disp = c.cap(3);
  Ref itemId = remove_all(sel, "#");
  Ref arg = c.cap(4) == Py_True ? pg::list(itemId.get(), val, disp, Py_True) : pg::list(itemId.get(), val, disp);
  Ref ret = co_await pg::evaluate(page, ZV_SCRIPT(lov_desc), arg.get());
  if (!truthy(ret.get())) co_return none();
  Ref success = call_method(ret.get(), N->get.get(), ZV_STR("success"));
  if (truthy(success.get())) co_return none();
  Ref msg;
  if (check(PySequence_Contains(ret.get(), ZV_STR("error"))))
    msg = check(PyObject_GetItem(ret.get(), ZV_STR("error")));
  else
    msg = text("fCtApexPreencPopupLovDesc -> Erro desconhecido preenchimento LOV");
  raise_new(PyExc_Exception, msg);
}

static const FuncSpec kLovDescAttempt = {"action", "fCtApexPreencPopupLovDesc.<locals>.action", "",
                                         nullptr, lov_desc_attempt, nullptr, nullptr};

Task<Ref> fCtApexPreencPopupLovDesc(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pWebSel = c.arg(1);
  PyObject* pDbCampoValue = c.arg(2);
  PyObject* pDbCampoValueDisplay = c.arg(3);
  // pTimeout (arg 4) is accepted and has no effect.
  if (is_blank(pDbCampoValue)) co_return none();
  Ref disp = Ref::borrow(truthy(pDbCampoValueDisplay) ? pDbCampoValueDisplay : pDbCampoValue);
  // The page compares texts: a number (or any other non-text) goes as its text form.
  if (!PyUnicode_Check(disp.get())) disp = str(disp.get());
  Ref val = str(pDbCampoValue);
  PyObject* inTop = lov_in_top(pPage) ? Py_True : Py_False;
  Ref action = make_attempt(&kLovDescAttempt, pPage, pWebSel, val.get(), disp.get(), inTop);
  co_await retry(action);
  co_return none();
}

}  // namespace zv::vc
