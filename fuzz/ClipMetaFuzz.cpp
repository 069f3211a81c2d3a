// The length of the XML document an XAVC S camcorder writes beside a clip.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "M4ROOT_Sidecars.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    Kalvory::ClipMetaLength(stream, 0);
    return 0;
}
