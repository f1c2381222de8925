// Not built yet: replaced when this family lands.
#include "bodies.hpp"

namespace zv::vc {

Task<Ref> fCtApexWaitStable(Call c) { return not_yet(c); }

}  // namespace zv::vc
