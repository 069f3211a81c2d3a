// A movie box's sample tables, and the test of each sample's first bytes
// against the input itself.
#include <cstddef>
#include <cstdint>

#include "ISOBMFF_SampleTables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Kalvory::MovieTables tables;
    if (!Kalvory::ParseMovieTables(data, size, tables))
        return 0;
    for (const Kalvory::MediaSample& sample : tables.samples) {
        if (sample.offset >= size)
            break;
        const auto at = static_cast<size_t>(sample.offset);
        Kalvory::BeginsSample(tables.tracks.at(sample.track), data + at, size - at, sample.size);
    }
    return 0;
}
