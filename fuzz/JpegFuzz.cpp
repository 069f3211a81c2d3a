// The length of an Exif JPEG by its marker walk, and the place of its Exif thumbnail.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "Picture_ExifThumbnail.h"
#include "Picture_Files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    Kalvory::CheckAsJpeg(stream, 0);
    if (const auto thumbnail = Kalvory::FindExifThumbnail(data, size); thumbnail && thumbnail->End() > size)
        __builtin_trap();
    return 0;
}
