#include "families.h"

namespace ostrel {

void register_moving_averages(FamilyTable& t) { (void)t; }

}  // namespace ostrel
