// Not built yet: replaced when this family lands.
#include "bodies.hpp"

namespace zv::vc {

Task<Ref> fCtPopUpWindows(Call c) { return not_yet(c); }
Task<Ref> fCtPopUpHtml(Call c) { return not_yet(c); }

}  // namespace zv::vc
