// An SD-Video DV clip walked frame by frame from its AVI header.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "DV_Clip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    Kalvory::DvClip clip;
    Kalvory::ParseDvClip(clip, stream, 0);
    return 0;
}
