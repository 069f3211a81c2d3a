#pragma once
// Which volume of a source a recovery reads: the bare volume an image or a
// partition device holds, the chosen (or first FAT/exFAT) partition of a
// whole card, a volume found by its boot sector when the table is gone, or,
// where no volume is found at all, the whole card as raw sectors.
#include <cstdint>
#include <memory>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_WideString.h"
#include "FSAccessBase.h"
#include "PartitionTable.h"

namespace Kalvory {

// Whether a card without any volume is scanned sector by sector or refused.
enum class RawScan { Refuse, WholeCard };

struct VolumeChoice {
    uint32_t partition = 0; // 0: the first FAT or exFAT partition
    RawScan raw = RawScan::Refuse;
};

enum class VolumeFound { Bare, Partition, BootSector, WholeCardRaw };

struct SourceLayout {
    uint64_t cardBytes = 0;
    FSAccessLib::PartitionTable table;
    VolumeFound found = VolumeFound::Bare;
    uint32_t partition = 0; // the partition read, when found through the table
    uint64_t volumeOffset = 0;
    // The other partitions that hold a volume of their own (card offsets):
    // read with their number, never scanned as the card's gaps.
    std::vector<AAA::ByteRange> otherVolumes;
    // The card's stretches outside the volume the sector search read too (card offsets).
    std::vector<AAA::ByteRange> gapsScanned;
};

// Opens the reader of the chosen volume and describes the source; raises
// UnknownFileSystemException (with a detail naming the partition when one
// was chosen) when there is none to read.
std::unique_ptr<FSAccessLib::FSAccessBase> OpenVolume(const AAA::WString& path, const VolumeChoice& choice,
                                                      SourceLayout& layout);

} // namespace Kalvory
