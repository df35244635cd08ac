#pragma once
// Each implemented family registers its names here; registry.cc lists the families in one place.

#include "../registry.h"

namespace ostrel {

void register_moving_averages(FamilyTable& t);
void register_momentum(FamilyTable& t);
void register_volatility(FamilyTable& t);
void register_bands(FamilyTable& t);
void register_statistics(FamilyTable& t);
void register_derivatives(FamilyTable& t);
void register_microstructure(FamilyTable& t);
void register_breadth(FamilyTable& t);

}  // namespace ostrel
