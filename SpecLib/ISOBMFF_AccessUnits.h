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
};

// The access units in the card's bytes [from, to), in order.
std::vector<FoundSample> FindAccessUnits(AAA::Stream& stream, uint64_t from, uint64_t to, const NalUnits& units);

} // namespace Kalvory
