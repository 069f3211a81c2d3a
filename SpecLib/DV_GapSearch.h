#pragma once
// Where the walk expects a chunk and finds something else, the camcorder has
// put units of the other files there: a gap of whole 64 KiB units that
// begins at the first unit boundary at or after the walk's position. These
// searches find the chunk 1 to 19 units further and split the clip's chains
// at the gap: the AVI jumps over it, the PCM files share it half and half,
// and an XML unit in it ends their part.
#include <cstdint>

#include "AAA_Stream.h"
#include "DV_Clip.h"
#include "DV_Words.h"

namespace Kalvory {

// Whether an XML unit met in a gap marks the clip (`hasXml`).
enum class XmlMark { Set, Ignore };

class DvGapSearch {
public:
    // Offsets below are relative to the clip's start `start`.
    DvGapSearch(DvClip& clip, AAA::Stream& stream, uint64_t start) : clip_(clip), stream_(stream), start_(start) {}

    // False when the four bytes cannot all be read.
    bool Word(uint64_t offset, uint32_t& value);
    bool MarkerAt(uint64_t offset, const DvMarker& marker);

    // The marker at from + distance + k units (k = 1 to 19), the gap taken to
    // begin at `from` rounded up to a unit; returns from's distance to the
    // marker, 0 when it is not found.
    uint64_t FindAfterGap(const DvMarker& marker, uint64_t distance, uint64_t from, XmlMark mark = XmlMark::Set);
    // For a chunk whose size word was cut off by a gap beginning at `from` (a
    // unit boundary): the size word X beginning a unit k units on, and the
    // marker right after that chunk (4 + X bytes on); returns from's distance
    // to the marker, 0 when it is not found.
    uint64_t FindAfterGapAtBoundary(const DvMarker& marker, uint64_t from);

    // The AVI's last extent ends at `offset` (never before its start).
    void EndAviAt(uint64_t offset);
    uint64_t Start() const { return start_; }

private:
    bool Read(uint64_t offset, uint8_t (&bytes)[4]);
    // Records the gap of `units` units from `from` rounded up.
    void SplitAtGap(uint64_t from, uint32_t units, XmlMark mark);

    DvClip& clip_;
    AAA::Stream& stream_;
    uint64_t start_;
};

inline uint64_t RoundUpToUnit(uint64_t offset) { return (offset + kDvUnit - 1) / kDvUnit * kDvUnit; }

} // namespace Kalvory
