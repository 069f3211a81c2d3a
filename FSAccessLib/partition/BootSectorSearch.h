#pragma once
// Where volumes may start on a card whose table is gone or names none: every
// sector that looks like a FAT12/16/32 or exFAT boot sector, in the first
// part of the card (formatters place volumes near its start).
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"

namespace FSAccessLib {

constexpr uint64_t kBootSearchBytes = 256ull << 20;
constexpr size_t kMaxBootCandidates = 64;

// A cheap look: the jump, a sane sector size and the signature, or exFAT's name.
bool LooksLikeBootSector(const uint8_t* sector);

// Byte offsets of such sectors, in card order, at most kMaxBootCandidates.
std::vector<uint64_t> FindBootSectors(AAA::Stream& card, uint64_t cardBytes);

} // namespace FSAccessLib
