#pragma once
// The video samples of an mdat whose sample tables are lost: its bytes read as
// length-prefixed H.264 NAL units, grouped into access units (one sample
// each). Chunks of other tracks between them are passed over: the walk picks
// up again where a NAL unit that begins an access unit does. A NAL unit
// longer than the camera's largest sample is none, which keeps other data
// from passing for video.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"

namespace Kalvory {

struct FoundSample {
    uint64_t offset; // on the card
    uint32_t size;
    bool sync;       // holds an IDR picture
};

// The access units in the card's bytes [from, to), in order, of NAL units `longestNal` bytes long at most.
std::vector<FoundSample> FindAccessUnits(AAA::Stream& stream, uint64_t from, uint64_t to, uint32_t nalLengthBytes,
                                         uint32_t longestNal);

} // namespace Kalvory
