#include "scripts.hpp"

#include "page_scripts.hpp"

namespace zv::vc {

Scripts* S = nullptr;

bool init_scripts() {
  if (S) return true;
  try {
    S = new Scripts();
    S->text_set = text(scripts::text_set);
    return true;
  } catch (...) {
    set_error_from(std::current_exception());
    return false;
  }
}

}  // namespace zv::vc
