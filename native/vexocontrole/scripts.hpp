// The page scripts as Python strs, made once from the embedded JavaScript files.
#pragma once
#include "state.hpp"

namespace zv::vc {

struct Scripts {
  Ref text_set;
};
extern Scripts* S;
bool init_scripts();

}  // namespace zv::vc
