#pragma once
// The order in which a clip's pictures are shown, where it differs from the
// order they are stored in (B pictures): each picture's slice header gives
// its picture order count's low bits, which the sequence parameter set says
// how to read. The composition offsets (ctts) follow from it.
#include <cstdint>
#include <optional>
#include <vector>

#include "AAA_Stream.h"
#include "ISOBMFF_AccessUnits.h"

namespace Kalvory {

// What a slice header's first fields need from the sequence parameter set.
struct AvcSequence {
    bool separateColourPlanes = false;
    uint32_t frameNumBits = 0;
    uint32_t orderCountType = 0;
    uint32_t orderCountLsbBits = 0; // type 0
    bool framesOnly = true;
};

// The sequence parameter set's fields, from the NAL unit (its header
// included); none when it is cut or damaged.
std::optional<AvcSequence> AvcSequenceOf(const uint8_t* sps, size_t size);

// The composition offsets of `samples` (in decode order, `delta` apart), the
// least 0, when the order count is of type 0; none when a picture's slice
// header does not read.
std::optional<std::vector<uint32_t>> CompositionOffsets(AAA::Stream& stream, const std::vector<FoundSample>& samples,
                                                        uint32_t nalLengthBytes, const AvcSequence& sequence,
                                                        uint32_t delta);

} // namespace Kalvory
