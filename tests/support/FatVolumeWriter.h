#pragma once
// Lays out a FatImageBuilder's entries on a volume: allocates clusters, writes
// the tables, directories, data and boot region.
#include "support/FatImageBuilder.h"

#include <vector>

namespace TestSupport {

FatImage WriteFatVolume(const FatVolumeOptions& options, const std::vector<FatImageBuilder::Node>& nodes);

} // namespace TestSupport
