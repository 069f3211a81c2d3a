#pragma once
// The video samples of an mdat whose sample tables are lost: its bytes read as
// length-prefixed H.264 NAL units, grouped into access units (one sample
// each). Chunks of other tracks between them are passed over: the walk picks
// up again where an access unit begins: its first slice names the camera's
// picture parameter set. A NAL unit longer than the camera's largest sample
// is none, which keeps other data from passing for video.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"

namespace Kalvory {

struct FoundSample {
    uint64_t offset; // on the card
    uint32_t size;
    bool sync;       // holds an IDR picture
};

// What the camera's NAL units are like.
struct NalUnits {
    uint32_t lengthBytes = 4;
    uint32_t longest = 1u << 20;
    uint32_t pps = 0; // the picture parameter set its slices name
    // The slice NAL headers the camera writes, a bit each: SliceKind(header); 0 for any.
    uint8_t sliceKinds = 0;
};

// The bit of a slice NAL unit's header (its type 1 or 5, and reference level) in `sliceKinds`.
constexpr uint8_t SliceKind(uint8_t header) {
    return static_cast<uint8_t>(1u << (((header & 0x1F) == 5 ? 4 : 0) + ((header >> 5) & 3)));
}

// The access units in the card's bytes [from, to), in order.
std::vector<FoundSample> FindAccessUnits(AAA::Stream& stream, uint64_t from, uint64_t to, const NalUnits& units);

} // namespace Kalvory
