#include "families.h"

namespace ostrel {

void register_momentum(FamilyTable& t) { (void)t; }

}  // namespace ostrel
