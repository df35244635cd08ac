#include "families.h"

namespace ostrel {

void register_breadth(FamilyTable& t) { (void)t; }

}  // namespace ostrel
