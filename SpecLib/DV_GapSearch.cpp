#include "DV_GapSearch.h"

namespace Kalvory {
namespace {

const DvMarker kXmlUnit = DvMarker::FourCc("<?xm");

} // namespace

bool DvGapSearch::Read(uint64_t offset, uint8_t (&bytes)[4]) {
    stream_.Seek(static_cast<int64_t>(start_ + offset), AAA::SeekBegin);
    return stream_.Read(bytes, sizeof bytes) == sizeof bytes;
}

bool DvGapSearch::Word(uint64_t offset, uint32_t& value) {
    uint8_t bytes[4];
    if (!Read(offset, bytes))
        return false;
    value = LittleEndian32(bytes);
    return true;
}

bool DvGapSearch::MarkerAt(uint64_t offset, const DvMarker& marker) {
    uint8_t bytes[4];
    return Read(offset, bytes) && marker.Matches(bytes);
}

uint64_t DvGapSearch::FindAfterGap(const DvMarker& marker, uint64_t distance, uint64_t from, XmlMark mark) {
    for (uint32_t k = 1; k <= kGapSearchUnits; ++k) {
        const uint64_t candidate = from + distance + k * kDvUnit;
        uint8_t bytes[4];
        if (!Read(candidate, bytes))
            return 0; // past the medium, and so is every later candidate
        if (marker.Matches(bytes)) {
            SplitAtGap(from, k, mark);
            return candidate - from;
        }
    }
    return 0;
}

uint64_t DvGapSearch::FindAfterGapAtBoundary(const DvMarker& marker, uint64_t from) {
    if (from % kDvUnit != 0)
        return 0;
    for (uint32_t k = 1; k <= kGapSearchUnits; ++k) {
        const uint64_t sizeWord = from + k * kDvUnit;
        uint32_t size = 0;
        if (!Word(sizeWord, size))
            return 0;
        const uint64_t next = sizeWord + 4 + size;
        if (MarkerAt(next, marker)) {
            SplitAtGap(from, k, XmlMark::Set);
            return next - from;
        }
    }
    return 0;
}

void DvGapSearch::EndAviAt(uint64_t offset) {
    DvExtent& last = clip_.aviChain.back();
    const uint64_t end = start_ + offset;
    last.length = end > last.start ? end - last.start : 0;
}

void DvGapSearch::SplitAtGap(uint64_t from, uint32_t units, XmlMark mark) {
    const uint64_t gap = RoundUpToUnit(from);
    const uint64_t gapEnd = gap + units * kDvUnit;
    EndAviAt(gap);
    clip_.aviChain.push_back({start_ + gapEnd, 0});
    uint64_t pcmStart = gap;
    uint64_t pcmEnd = gapEnd;
    // The XML unit comes first or right after the PCM units.
    for (uint64_t unit = gap; unit < gapEnd; unit += kDvUnit) {
        if (!MarkerAt(unit, kXmlUnit))
            continue;
        if (mark == XmlMark::Set)
            clip_.hasXml = true;
        if (unit == gap)
            pcmStart = gap + kDvUnit;
        else
            pcmEnd = unit;
        break;
    }
    const uint64_t half = (pcmEnd - pcmStart) / 2;
    if (half == 0)
        return;
    clip_.pcm0Chain.push_back({start_ + pcmStart, half});
    clip_.pcm1Chain.push_back({start_ + pcmStart + half, half});
}

} // namespace Kalvory
