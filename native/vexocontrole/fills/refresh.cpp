#include "fills/refresh.hpp"

#include "page.hpp"

namespace zv::vc {

namespace {

constexpr long long kRefreshBoundMs = 30000;
// How often the page checks, in ms: an interval, not animation frames (a page in the
// background may get none).
constexpr long long kPollMs = 100;

// The script's argument: {item, modo, depois}.
Ref refresh_argument(PyObject* item_id, const char* modo, PyObject* depois) {
  Ref arg = check(PyDict_New());
  Ref m = text(modo);
  check(PyDict_SetItemString(arg.get(), "item", item_id));
  check(PyDict_SetItemString(arg.get(), "modo", m.get()));
  check(PyDict_SetItemString(arg.get(), "depois", depois));
  return arg;
}

}  // namespace

Task<bool> refresh_ended(PyObject* page, PyObject* item_id, const char* owner, PyObject* sel) {
  // The question: false, or the item's count of ended refreshes the wait starts from. A page
  // that cannot answer (a script error) is one where nothing is waited for.
  Ref since;
  try {
    since = co_await pg::evaluate(page, ZV_SCRIPT(item_refresh), refresh_argument(item_id, "sondar", Py_None).get());
  } catch (PyError&) {
    co_return false;
  }
  if (!since || !PyLong_Check(since.get()) || PyBool_Check(since.get())) co_return false;

  if (debug_on()) log_info(message(owner, " -> Item em atualizacao, aguardando: ", sel));
  bool ended = true;
  try {
    Ref arg = refresh_argument(item_id, "esperar", since.get());
    Ref handle = co_await pg::wait_for_function(page, ZV_SCRIPT(item_refresh), arg.get(), integer(kPollMs).get(),
                                                integer(kRefreshBoundMs).get());
    co_await call_method(handle.get(), N->dispose.get());
  } catch (PyError&) {
    ended = false;  // the bound ran out (or the page went away): the caller goes on as before
  }
  if (!debug_on()) co_return ended;
  if (ended)
    log_info(message(owner, " -> Atualizacao do item terminada: ", sel));
  else
    log_warning(message(owner, " -> Item ainda em atualizacao apos ", integer(kRefreshBoundMs), " ms: ", sel));
  co_return ended;
}

}  // namespace zv::vc
