#include "bodies.hpp"

namespace zv::vc {

Task<Ref> not_yet(Call) {
  PyErr_SetString(PyExc_NotImplementedError, "not built yet");
  throw_current();
  co_return none();
}

}  // namespace zv::vc
