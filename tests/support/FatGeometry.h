#pragma once
// Geometry, allocation-table encoding and boot region of the FAT image builder.
#include "support/FatImageBuilder.h"

#include <cstdint>
#include <vector>

namespace TestSupport {

// Derives the layout from the options; sizes the FAT when sectorsPerFat is 0.
FatLayout ComputeFatLayout(const FatVolumeOptions& options);

// One table entry at `table` (the start of a copy), 12, 16 or 32 bits wide.
std::uint32_t ReadFatTableEntry(FatType type, const std::uint8_t* table, std::uint32_t cluster);
void WriteFatTableEntry(FatType type, std::uint8_t* table, std::uint32_t cluster, std::uint32_t value);

// Boot sector (and for FAT32 FSInfo plus their backups in sectors 6 and 7).
void WriteBootRegion(std::vector<std::uint8_t>& image, const FatVolumeOptions& options, const FatLayout& layout,
                     std::uint32_t freeClusters, std::uint32_t nextFree);

} // namespace TestSupport
