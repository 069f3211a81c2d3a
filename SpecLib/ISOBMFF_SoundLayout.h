#pragma once
// How a clip's sound track is coded, read from its sample description: what
// the fragment search needs to test that a cluster begins a sound sample.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "ISOBMFF_AacFrames.h"

namespace Kalvory {

// The AAC layout of the first of a sample description's entries (the bytes
// after its entry count); none unless it is mp4a with AAC LC in mono or stereo.
std::optional<AacLayout> AacLayoutOfEntries(const uint8_t* entries, size_t size);

} // namespace Kalvory
