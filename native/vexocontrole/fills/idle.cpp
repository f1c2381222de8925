// fCtApexWaitStable: waits, within a limit, until APEX shows no processing indicator, then
// pauses 300 ms. A page that stays busy is not an error: the wait simply gives up.
// The wait and its pause are one pause point (pacing.cpp).
#include "bodies.hpp"
#include "pacing.hpp"

namespace zv::vc {

Task<Ref> fCtApexWaitStable(Call c) {
  PauseSite site;
  site.page = c.arg(0);
  site.owner = "fCtApexWaitStable";
  site.limit = c.arg(1);
  co_await pause_at(PausePoint::IdleWait, site);
  co_return none();
}

}  // namespace zv::vc
