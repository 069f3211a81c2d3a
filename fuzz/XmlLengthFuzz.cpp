// The length of an SD-Video clip description.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "DV_Files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    Kalvory::XmlLength(stream, 0);
    return 0;
}
