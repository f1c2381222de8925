// fCtRetry: runs a step again after an ordinary error, up to pRetries attempts, pDelay
// seconds apart; the last attempt's error goes to the caller.
#include "bodies.hpp"

#include <climits>

namespace zv::vc {

Task<Ref> fCtRetry(Call c) {
  PyObject* pFunction = c.arg(0);
  PyObject* pRetries = c.arg(1);
  PyObject* pDelay = c.arg(2);
  // pTimeout (arg 3) is accepted and has no effect: each attempt's page waits carry limits.
  // As range(pRetries): any integer; a count beyond the machine's is no limit at all.
  Ref count = check(PyNumber_Index(pRetries));
  int overflow = 0;
  long long n = PyLong_AsLongLongAndOverflow(count.get(), &overflow);
  if (n == -1 && PyErr_Occurred()) throw_current();
  if (overflow > 0) n = LLONG_MAX;
  if (overflow < 0) n = 0;

  for (long long i = 0; i < n; ++i) {
    Held failure;
    try {
      Ref step = call(pFunction);
      co_return co_await std::move(step);
    } catch (PyError& e) {
      failure.set(e.take());
    }
    if (debug_on()) {
      Ref attempt = check(PyLong_FromLongLong(i + 1));
      log_warning(message("fCtRetry -> [RETRY ", attempt, "/", pRetries, "] erro: ", failure.get()));
    }
    if (i == n - 1) failure.rethrow();
    Ref asyncio = module_get(N->asyncio.get());
    co_await call_method(asyncio.get(), N->sleep.get(), pDelay);
  }
  co_return none();
}

}  // namespace zv::vc
