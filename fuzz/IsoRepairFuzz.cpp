// A moov made for a clip without one: a template moov (the input's first
// box), the video samples found in the bytes after it and the sound chunks
// between them. What is made must read back as tables listing exactly the
// samples and chunks found.
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
    std::vector<Kalvory::AudioChunk> sound;
    if (from->audio) {
        std::vector<Kalvory::Gap> gaps;
        uint64_t at = moovSize;
        for (const Kalvory::FoundSample& sample : found) {
            if (sample.offset > at)
                gaps.push_back({at, sample.offset - at});
            at = sample.offset + sample.size;
        }
        if (size > at)
            gaps.push_back({at, size - at});
        sound = Kalvory::FindAudioChunks(stream, *from->audio, gaps).value_or(sound);
    }
    const std::optional<std::vector<uint8_t>> moov = Kalvory::RebuildMoov(*from, samples, sound);
    if (!moov)
        return 0;
    Kalvory::MovieTables tables;
    if (!Kalvory::ParseMovieTables(moov->data(), moov->size(), tables))
        std::abort();
    std::vector<Kalvory::MediaSample> video, chunks;
    for (const Kalvory::MediaSample& sample : tables.samples)
        (sample.track == from->track ? video : chunks).push_back(sample);
    if (video.size() != samples.size() || chunks.size() != sound.size())
        std::abort();
    for (size_t i = 0; i < samples.size(); ++i)
        if (video[i].offset != samples[i].offset || video[i].size != samples[i].size)
            std::abort();
    // A PCM track's samples may count frames of any size; its chunks lie where they were found.
    const bool sized = from->audio && (from->audio->coding == Kalvory::AudioCoding::Aac ||
                                       from->audio->sampleSize == from->audio->bytesPerFrame);
    for (size_t i = 0; i < sound.size(); ++i)
        if (chunks[i].offset != sound[i].offset || (sized && chunks[i].size != sound[i].bytes))
            std::abort();
    return 0;
}
