// Momentum oscillators built from moving-average cores: the MACD family, price oscillators and
// the smoothed-momentum members.

#include "families.h"

namespace ostrel {

void register_momentum_averages(FamilyTable& t) { (void)t; }

}  // namespace ostrel
