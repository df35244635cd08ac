#include "families.h"

namespace ostrel {

void register_microstructure(FamilyTable& t) { (void)t; }

}  // namespace ostrel
