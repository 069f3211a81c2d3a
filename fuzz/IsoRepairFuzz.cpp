// A moov made for a clip without one: a template moov (the input's first
// box) and the video samples found in the bytes after it. What is made must
// read back as tables listing exactly the samples found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "AAA_Stream.h"
#include "ISOBMFF_AccessUnits.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_MoovRebuild.h"
#include "ISOBMFF_SampleTables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Kalvory::BoxHeader header;
    if (!Kalvory::ParseBoxHeader(data, size, header) || header.size > size)
        return 0;
    const auto moovSize = static_cast<size_t>(header.size);
    const std::optional<Kalvory::VideoTemplate> from =
        Kalvory::VideoTemplateOf(std::vector<uint8_t>(data, data + moovSize));
    if (!from)
        return 0;
    AAA::MemoryStream stream(data, size);
    Kalvory::NalUnits units;
    units.lengthBytes = from->nalLengthBytes;
    units.longest = 1u << 16;
    units.pps = from->ppsId;
    const std::vector<Kalvory::FoundSample> found = Kalvory::FindAccessUnits(stream, moovSize, size, units);
    std::vector<Kalvory::RebuiltSample> samples;
    for (const Kalvory::FoundSample& sample : found) {
        if (sample.offset < moovSize || sample.offset + sample.size > size)
            std::abort();
        samples.push_back({sample.offset, sample.size, sample.sync});
    }
    const std::optional<std::vector<uint8_t>> moov = Kalvory::RebuildMoov(*from, samples);
    if (!moov)
        return 0;
    Kalvory::MovieTables tables;
    if (!Kalvory::ParseMovieTables(moov->data(), moov->size(), tables) || tables.samples.size() != samples.size())
        std::abort();
    for (size_t i = 0; i < samples.size(); ++i)
        if (tables.samples[i].offset != samples[i].offset || tables.samples[i].size != samples[i].size)
            std::abort();
    return 0;
}
