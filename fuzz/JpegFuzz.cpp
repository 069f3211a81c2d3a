// The length of an Exif JPEG by its marker walk.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "Picture_Files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    Kalvory::CheckAsJpeg(stream, 0);
    return 0;
}
