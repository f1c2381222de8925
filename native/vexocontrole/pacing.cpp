#include "pacing.hpp"

#include "events.hpp"
#include "page.hpp"

namespace zv::vc {

namespace {

// Every pause point, its literal pause, and what the adaptive pacing waits for instead.
constexpr PauseEntry kPauses[] = {
    {PausePoint::LovOpen, "lov_aberto", 1800, "lov_aberto",
     "the item's dialog shown, its rows (or its no-data message) rendered, no request in flight",
     10000, 0},
    {PausePoint::LoadMore, "lov_mais", 500, nullptr,
     "the clicked page's rows rendered, or the load-more button disabled", 10000, 0},
    {PausePoint::LovClose, "lov_fechado", 5000, "lov_fechado",
     "Escape, then the dialog's own close button while it is open; the dialog hidden, the "
     "item's aria-expanded not true and the item holding the value set",
     3000, 0},
    {PausePoint::IdleWait, "espera_estavel", 300, "ocioso",
     "no request in flight and no processing indicator shown, for the quiet window", 0, 100},
    {PausePoint::LovSettle, "lov_assente", 1000, "ocioso",
     "no request in flight and no processing indicator shown (the idle wait before it held the "
     "quiet window)",
     5000, 0},
    {PausePoint::GridAdd, "grelha_inserir", 1200, "grelha_inserir",
     "the row editor's first mapped cell attached and shown", 15000, 0},
    {PausePoint::GridSave, "grelha_gravar", 1800, "grelha_gravar",
     "no processing indicator, the add button enabled again, no request in flight, for the "
     "quiet window",
     30000, 100},
};


// The dialog open now; a hidden dialog kept from an earlier popup does not match.
constexpr const char kOpenDialog[] = ".a-PopupLOV-dialog:visible, .ui-dialog:visible";

constexpr std::size_t kPauseCount = sizeof(kPauses) / sizeof(kPauses[0]);
static_assert(kPauseCount == static_cast<std::size_t>(PausePoint::GridSave) + 1);

// The literal pause of a point as the int the page operation takes, made once.
PyObject* literal_ms(const PauseEntry& e) {
  static PyObject* made[kPauseCount] = {};
  PyObject*& ms = made[static_cast<std::size_t>(e.point)];
  if (!ms) ms = intern_int(e.literal_ms);
  return ms;
}

// The literal pause of a point.
Task<Ref> literal_pause(const PauseEntry& e, const PauseSite& s) {
  switch (e.point) {
    case PausePoint::LovClose: {
      // Wait for the popup to close; APEX leaves it open after setValue, so then close it
      // with Escape, and with its own close button should Escape not reach it (focus
      // outside the dialog).
      bool closed = true;
      try {
        co_await pg::wait_for_selector(s.page, ZV_STR(kOpenDialog), N->hidden.get(), literal_ms(e));
      } catch (PyError&) {
        closed = false;
      }
      if (!closed) {
        co_await pg::press(s.page, N->escape.get());
        co_await pg::evaluate(s.page, ZV_SCRIPT(lov_close));
      }
      co_return none();
    }
    case PausePoint::IdleWait:
      try {
        co_await pg::wait_for_function(s.page, ZV_SCRIPT(apex_idle), s.limit);
      } catch (PyError&) {
        // time-out, script error, closed page: dropped without a line. Cancellation is a
        // PyAbort and leaves at once.
      }
      co_await pg::wait_for_timeout(s.page, literal_ms(e));
      co_return none();
    case PausePoint::LovOpen:
    case PausePoint::LovSettle:
    case PausePoint::GridAdd:
    case PausePoint::GridSave:
      co_await pg::wait_for_timeout(s.page, literal_ms(e));
      co_return none();
    case PausePoint::LoadMore:
      break;  // made inside the row search script
  }
  co_return none();
}

}  // namespace

const PauseEntry& pause_entry(PausePoint p) { return kPauses[static_cast<int>(p)]; }

bool pacing_adaptive() { return false; }

Task<Ref> pause_at(PausePoint point, PauseSite site) {
  const PauseEntry& e = pause_entry(point);
  // An observer (ziveviver.eventos) is told of each pause: planned against spent.
  double started = ev::pause_started();
  co_await literal_pause(e, site);
  ev::pause_ended(started, e.name, e.literal_ms, pacing_adaptive() ? "adaptativo" : "literal");
  co_return none();
}

void init_pacing(PyObject*) {}

}  // namespace zv::vc
