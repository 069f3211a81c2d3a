#pragma once
// Recovering from an image made by `kalvory image`: what its map calls not
// finished is taken as the card's unreadable sectors.
#include <string>

#include "Kalvory_Recover.h"

namespace KalvoryCli {

// Marks the map's unfinished ranges unreadable on the strategy's source.
// Returns "" or why the map cannot be used (unreadable, or not this image's).
std::string ApplySourceMap(Kalvory::KalvoryBase& strategy, const std::string& mapPath, const std::string& source);

} // namespace KalvoryCli
