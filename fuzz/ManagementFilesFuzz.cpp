// The lengths of the AVCHD management files, each read from the input's start.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "AVCHD_ManagementFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    for (auto length : {Kalvory::ClipInformationLength, Kalvory::PlaylistLength, Kalvory::IndexLength,
                        Kalvory::MovieObjectLength, Kalvory::ThumbnailIndexLength})
        length(stream, 0);
    return 0;
}
