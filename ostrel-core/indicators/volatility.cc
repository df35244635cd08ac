#include "families.h"

namespace ostrel {

void register_volatility(FamilyTable& t) { (void)t; }

}  // namespace ostrel
