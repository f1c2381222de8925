// Pause points: every place where a fill pauses for the page, in one table, and the one
// function every such pause goes through. Under the literal pacing each point makes the
// fixed pause (or the bounded close wait) the fills have always made; under the adaptive
// pacing it waits, within a bound, for the page's own readiness signal instead, and falls
// back to the literal pause when the signal is missing or the bound runs out.
#pragma once
#include "state.hpp"

namespace zv::vc {

enum class PausePoint : int {
  LovOpen,    // after the popup LOV button's click
  LoadMore,   // after each load-more click, inside the row search script
  LovClose,   // the popup's close wait after its row was set
  IdleWait,   // the idle wait (its pause after the wait for no processing indicator)
  LovSettle,  // the popup LOV fill's final pause
  GridAdd,    // after a grid's add button click
  GridSave,   // after a grid's save button click
};

struct PauseEntry {
  PausePoint point;
  const char* name;       // the point's name in log lines and records
  long long literal_ms;   // the literal pause (LovClose: the close wait's limit)
  const char* check;      // the condition's name in scripts/ritmo.js (LoadMore: in lov_id.js)
  const char* condition;  // what the adaptive pacing waits for instead
  long long bound_ms;     // how long it waits for it at most (0: the caller's own limit)
  long long quiet_ms;     // how long the page must stay idle for it to count (0: no window)
};

// The table, in PausePoint order.
const PauseEntry& pause_entry(PausePoint p);

// Where a pause happens: the page and what the point's condition looks at. Borrowed
// references; the caller keeps them alive until the pause ends.
struct PauseSite {
  PyObject* page = nullptr;
  const char* owner = "";        // the fill whose pause it is, for its log line
  PyObject* item = nullptr;      // popup LOV: the item id
  PyObject* found = nullptr;     // popup LOV: the row search's result (foundId: the value set)
  PyObject* selector = nullptr;  // grid add: the first mapped cell; grid save: the add button
  PyObject* limit = nullptr;     // idle wait: its pTimeout
  PyObject* grid = nullptr;      // grid add / save: the Interactive Grid's static id, when it is one
  bool lov_in_top = false;       // popup LOV: the item's dialog is in the top document (lov_home.hpp)
};

// True when the pacing in force in the current context is the adaptive one.
bool pacing_adaptive();

// Makes the pause of `point` at `site`. Under the adaptive pacing a popup closed without
// the item holding its value raises (the attempt failed); a condition that is not met in
// time, or that the page gives no signal for, ends in the literal pause, said in one log
// line while debug is on.
Task<Ref> pause_at(PausePoint point, PauseSite site);

// The fallback's log line: "<owner> -> Ritmo adaptativo: <point> <why>; segue o ritmo literal".
void log_fallback(const char* owner, const char* point, const Ref& why);

// The row search's load-more pacing: null under the literal pacing (the search pauses
// 500 ms after each click); under the adaptive one {limiteMs, intervaloMs}, the bound and
// the polling interval of its wait for the clicked page's rows.
Ref load_more_pacing();
// Takes the search result's count of load-more waits that ran out ("esgotadas") out of the
// result, and says so in the fallback's log line while debug is on.
void note_load_more_fallbacks(PyObject* result, const char* owner);

// Looks up the pacing's context variable (ziveviver.ritmo) once, at module start-up.
void init_pacing(PyObject* module_dict);

}  // namespace zv::vc
