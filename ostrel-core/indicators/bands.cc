#include "families.h"

namespace ostrel {

void register_bands(FamilyTable& t) { (void)t; }

}  // namespace ostrel
