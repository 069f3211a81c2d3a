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

struct BootCandidate {
    uint64_t volumeOffset = 0;
    uint64_t bootRecordOffset = 0; // from the volume's start: 0, or where the backup stands
    bool operator==(const BootCandidate&) const = default;
};

// Volumes such sectors begin, in card order, at most kMaxBootCandidates. A
// backup boot sector whose primary is gone (FAT32's at +6 sectors, exFAT's
// backup region at +12) stands for the volume in front of it.
std::vector<BootCandidate> FindBootSectors(AAA::Stream& card, uint64_t cardBytes);

} // namespace FSAccessLib
