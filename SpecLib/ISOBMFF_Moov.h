#pragma once
// The movie box of a clip on the card: where the top-level walk met it, or,
// when the walk ran from the mdat into foreign data, in the cluster that
// holds a moov at the offset the file puts it. A moov that crosses the end
// of its fragment is followed into the cluster whose bytes continue its boxes.
#include <cstdint>
#include <optional>
#include <vector>

#include "AAA_Stream.h"
#include "FSAccessBase.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_SampleTables.h"

namespace Kalvory {

// The largest moov read: its sample tables for hours of video.
constexpr uint64_t kLongestMoov = 64ull << 20;

struct FoundMoov {
    uint64_t file = 0;     // its offset in the file
    uint64_t disk = 0;     // where its first byte lies on the card
    uint64_t split = 0;    // bytes of it before its second piece; 0: one piece
    uint64_t tailDisk = 0; // where its second piece lies
    std::vector<uint8_t> bytes;
    MovieTables tables;

    uint64_t Size() const { return bytes.size(); }
    // The card position of the moov's byte `relative` (or of the bytes past its end).
    uint64_t DiskOf(uint64_t relative) const {
        return split != 0 && relative >= split ? tailDisk + (relative - split) : disk + relative;
    }
};

// The moov of the clip at `start` whose boxes `walk` walked, its tables read.
std::optional<FoundMoov> FindMoov(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, uint64_t start,
                                  const TopLevelWalk& walk);

} // namespace Kalvory
