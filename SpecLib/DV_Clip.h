#pragma once
// An SD-Video DV clip as the walk rebuilds it: the AVI (RIFF, OpenDML, in
// segments), its two PCM channel files and the XML whose 64 KiB units the
// camcorder interleaved with the AVI's on the card. Offsets are 64-bit.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"

namespace Kalvory {

// The camcorder's allocation unit, whatever the volume's cluster size.
constexpr uint64_t kDvUnit = 0x10000;
constexpr uint32_t kDifSequenceBytes = 12000;
// The first frame of the first segment stands 0x30000 after the RIFF; every
// further segment's first frame 0x20000 after its own "RIFF".
constexpr uint64_t kFirstSegmentHeader = 0x10000;
constexpr uint64_t kSegmentHeader = 0x20000;
// A search tries the marker 1 to this many units further.
constexpr uint32_t kGapSearchUnits = 19;

struct DvExtent {
    uint64_t start = 0; // on the volume
    uint64_t length = 0;
    bool operator==(const DvExtent&) const = default;
};
using DvExtentList = std::vector<DvExtent>;

struct DvClip {
    uint32_t dwTotalFrames = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t system = 0; // 1 NTSC, 2 PAL, 0 not a clip
    uint32_t frameStride = 0;
    uint32_t framesPerSegment = 0;
    uint32_t pcmDataSize = 0; // every "01wb" chunk met
    DvExtentList aviChain;
    DvExtentList pcm0Chain;
    DvExtentList pcm1Chain;
    bool hasXml = false; // an XML unit stood inside a gap
};

struct DvSystemConstants {
    const char16_t* name;
    uint32_t difSequences;
    uint32_t videoChunkBytes; // difSequences x 12,000
    uint32_t frameStride;
    uint32_t framesPerSegment;
};

// 1 for NTSC (1001/30000), 2 for PAL (1/25), 0 for anything else.
uint32_t DvSystemOf(uint32_t scale, uint32_t rate);
// Throws InvalidDataException for a system other than 1 or 2.
const DvSystemConstants& DvConstants(uint32_t system);

// Checks the AVI header at `start` and fills the clip's header fields
// (dwTotalFrames, width, height, scale, rate); false when it is no clip.
bool ParseDvHeader(DvClip& clip, AAA::Stream& stream, uint64_t start);

// Walks the clip at `start` frame by frame and fills its chains; returns the
// walked length from `start`, 0 when it is no clip.
uint64_t ParseDvClip(DvClip& clip, AAA::Stream& stream, uint64_t start);

// Makes the extents total `wanted` bytes, as FSAccessLib::FitExtentsTo.
void FitExtentsTo(DvExtentList& extents, uint64_t wanted);
uint64_t TotalLength(const DvExtentList& extents);

} // namespace Kalvory
