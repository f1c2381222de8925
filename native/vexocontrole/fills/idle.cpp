// fCtApexWaitStable: waits, within a limit, until APEX shows no processing indicator, then
// pauses 300 ms. A page that stays busy is not an error: the wait simply gives up.
#include "bodies.hpp"
#include "page.hpp"

namespace zv::vc {

Task<Ref> fCtApexWaitStable(Call c) {
  PyObject* pPage = c.arg(0);
  PyObject* pTimeout = c.arg(1);
  try {
    co_await pg::wait_for_function(pPage, ZV_SCRIPT(apex_idle), pTimeout);
  } catch (PyError&) {
    // time-out, script error, closed page: dropped without a line. Cancellation is a
    // PyAbort and leaves at once.
  }
  co_await pg::wait_for_timeout(pPage, ZV_INT(300));
  co_return none();
}

}  // namespace zv::vc
