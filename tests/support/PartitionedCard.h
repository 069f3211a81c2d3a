#pragma once
// Whole-card images for tests: volumes placed at given sectors behind an MBR
// (primary and logical partitions) or a GPT (with its backup at the end).
// Plain C++: the engine reads what these write.
#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport {

struct PlacedVolume {
    uint64_t startSector = 0;
    std::string bytes;        // the volume
    uint8_t mbrType = 0x0C;   // MBR only
    bool logical = false;     // MBR only: inside the extended partition
    uint64_t sectors = 0;     // 0: the volume's own size
};

enum class TableKind { Mbr, Gpt };

// A card of `cardSectors` 512-byte sectors holding the volumes and a table naming them.
std::string BuildWholeCard(TableKind kind, uint64_t cardSectors, const std::vector<PlacedVolume>& volumes);

// One 16-byte entry of the MBR or EBR at `sector` (and its 0x55AA), for tables
// that tests damage on purpose.
void WriteMbrEntry(std::string& card, uint64_t sector, int slot, uint8_t type, uint64_t firstLba, uint64_t sectors);

// CRC-32 (IEEE), written here again so the engine's is checked against another.
uint32_t TestCrc32(const uint8_t* bytes, size_t size);

} // namespace TestSupport
