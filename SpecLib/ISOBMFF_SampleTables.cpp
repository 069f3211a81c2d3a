#include "ISOBMFF_SampleTables.h"

#include <algorithm>
#include <cstdlib>

#include "ISOBMFF_BoxSpans.h"
#include "ISOBMFF_SoundLayout.h"

namespace Kalvory {
namespace {

// More video samples (or chunks) than a day of 60p: no clip's tables.
constexpr uint64_t kMostSamples = 1u << 23;
constexpr int kDeepestBox = 8;
// A video sample entry's fields before its child boxes.
constexpr size_t kVisualEntryBytes = 8 + 78;

// The tables of one track as read, before they are joined.
struct TrackTables {
    uint32_t handler = 0;
    uint32_t codec = 0;
    TrackCoding coding;
    uint32_t fixedSize = 0;
    std::vector<uint32_t> sizes;
    uint32_t sampleCount = 0;
    std::vector<uint64_t> chunkOffsets;
    struct Run {
        uint32_t firstChunk, samplesPerChunk;
    };
    std::vector<Run> runs;
    bool damaged = false;
};

// The table's entry count after version and flags, when `entryBytes` of each fit.
bool Entries(Span payload, size_t entryBytes, size_t extraHeader, uint32_t& count) {
    if (payload.size < 8 + extraHeader)
        return false;
    count = Be32(payload.bytes + 4 + extraHeader);
    return count <= kMostSamples && (payload.size - 8 - extraHeader) / entryBytes >= count;
}

void ReadCodecParameters(Span entry, TrackTables& track) {
    if (entry.size < kVisualEntryBytes - 8)
        return;
    ForEachBox(Span{entry.bytes + kVisualEntryBytes - 8, entry.size - (kVisualEntryBytes - 8)}, [&](uint32_t type, Span, Span box) {
        if (type == BoxType("avcC") && box.size >= 5)
            track.coding.nalLengthBytes = (box.bytes[4] & 3u) + 1;
        if (type == BoxType("hvcC") && box.size >= 22)
            track.coding.nalLengthBytes = (box.bytes[21] & 3u) + 1;
    });
}

void ReadSampleDescription(Span payload, TrackTables& track) {
    if (payload.size < 16)
        return;
    BoxHeader header;
    const Span entries{payload.bytes + 8, payload.size - 8};
    if (!ParseBoxHeader(entries.bytes, entries.size, header) || header.size > entries.size)
        return;
    track.codec = header.type;
    if (track.codec == BoxType("avc1") || track.codec == BoxType("avc3"))
        track.coding.coding = SampleCoding::Avc;
    else if (track.codec == BoxType("hvc1") || track.codec == BoxType("hev1"))
        track.coding.coding = SampleCoding::Hevc;
    else if (track.codec == BoxType("mp4v"))
        track.coding.coding = SampleCoding::Mpeg4Part2;
    else if (const std::optional<AacLayout> aac = AacLayoutOfEntries(entries.bytes, entries.size)) {
        track.coding.coding = SampleCoding::Aac;
        track.coding.aac = *aac;
    }
    if (track.coding.coding == SampleCoding::Avc || track.coding.coding == SampleCoding::Hevc)
        ReadCodecParameters(Span{entries.bytes + 8, static_cast<size_t>(header.size) - 8}, track);
    // A sound entry: channel count and sample size after 16 bytes of its fields.
    const bool pcm = track.codec == BoxType("sowt") || track.codec == BoxType("twos");
    if (pcm && header.size >= 8 + 20 && Be32(entries.bytes + 8 + 16) >> 16 != 0 &&
        (Be32(entries.bytes + 8 + 16) & 0xFFFF) == 16) {
        track.coding.coding = SampleCoding::Pcm16;
        track.coding.channels = std::min<uint32_t>(Be32(entries.bytes + 8 + 16) >> 16, 8);
        track.coding.bigEndian = track.codec == BoxType("twos");
    }
}

void ReadTable(uint32_t type, Span payload, TrackTables& track) {
    uint32_t count = 0;
    if (type == BoxType("stsd")) {
        ReadSampleDescription(payload, track);
    } else if (type == BoxType("stsz")) {
        if (payload.size < 12) {
            track.damaged = true;
            return;
        }
        track.fixedSize = Be32(payload.bytes + 4);
        track.sampleCount = Be32(payload.bytes + 8);
        if (track.fixedSize == 0 && !Entries(payload, 4, 4, count))
            track.damaged = true;
        else if (track.fixedSize == 0)
            for (uint32_t i = 0; i < count; ++i)
                track.sizes.push_back(Be32(payload.bytes + 12 + 4 * size_t{i}));
    } else if (type == BoxType("stsc")) {
        if (!Entries(payload, 12, 0, count))
            track.damaged = true;
        else
            for (uint32_t i = 0; i < count; ++i)
                track.runs.push_back({Be32(payload.bytes + 8 + 12 * size_t{i}), Be32(payload.bytes + 12 + 12 * size_t{i})});
    } else if (type == BoxType("stco") || type == BoxType("co64")) {
        const size_t wide = type == BoxType("co64") ? 8 : 4;
        if (!Entries(payload, wide, 0, count))
            track.damaged = true;
        else
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* at = payload.bytes + 8 + wide * i;
                track.chunkOffsets.push_back(wide == 8 ? Be64(at) : Be32(at));
            }
    }
}

void ReadBoxes(Span span, int depth, TrackTables& track) {
    if (depth > kDeepestBox)
        return;
    const bool whole = ForEachBox(span, [&](uint32_t type, Span, Span payload) {
        if (type == BoxType("mdia") || type == BoxType("minf") || type == BoxType("stbl"))
            ReadBoxes(payload, depth + 1, track);
        else if (type == BoxType("hdlr") && payload.size >= 12 && track.handler == 0)
            track.handler = Be32(payload.bytes + 8); // the media's; QuickTime's data handler follows in minf
        else
            ReadTable(type, payload, track);
    });
    track.damaged = track.damaged || !whole;
}

// Whether a track's samples are listed one by one (their first bytes are
// tested) or its chunks as wholes (only where its bytes lie matters).
enum class Granularity { Samples, Chunks };

// Appends the track's samples (or chunks) at their file offsets; false when
// its tables disagree.
bool JoinTables(const TrackTables& track, uint16_t index, Granularity granularity, std::vector<MediaSample>& samples) {
    const uint64_t count = track.fixedSize != 0 ? track.sampleCount : track.sizes.size();
    uint64_t sample = 0;
    for (size_t r = 0; r < track.runs.size() && sample < count; ++r) {
        const uint32_t first = track.runs[r].firstChunk;
        const uint64_t last = r + 1 < track.runs.size() ? track.runs[r + 1].firstChunk : track.chunkOffsets.size() + 1;
        if (first == 0 || last <= first || last > track.chunkOffsets.size() + 1 || track.runs[r].samplesPerChunk == 0)
            return false;
        for (uint64_t chunk = first; chunk < last && sample < count; ++chunk) {
            const uint64_t inChunk = std::min<uint64_t>(track.runs[r].samplesPerChunk, count - sample);
            uint64_t offset = track.chunkOffsets[chunk - 1];
            if (granularity == Granularity::Chunks) {
                uint64_t bytes = track.fixedSize * inChunk;
                for (uint64_t k = 0; track.fixedSize == 0 && k < inChunk; ++k)
                    bytes += track.sizes[sample + k];
                if (bytes > UINT32_MAX)
                    return false;
                samples.push_back({offset, static_cast<uint32_t>(bytes), index});
                sample += inChunk;
            }
            for (uint64_t k = 0; granularity == Granularity::Samples && k < inChunk; ++k, ++sample) {
                const uint32_t size = track.fixedSize != 0 ? track.fixedSize : track.sizes[sample];
                samples.push_back({offset, size, index});
                offset += size;
            }
            if (samples.size() > kMostSamples)
                return false;
        }
    }
    return sample == count;
}

} // namespace

bool ParseMovieTables(const uint8_t* moov, size_t size, MovieTables& tables) {
    BoxHeader header;
    if (!ParseBoxHeader(moov, size, header) || header.type != BoxType("moov") || header.size > size)
        return false;
    tables = MovieTables();
    std::vector<TrackTables> tracks;
    const bool whole = ForEachBox(Span{moov + header.headerBytes, static_cast<size_t>(header.size) - header.headerBytes},
                                  [&](uint32_t type, Span, Span payload) {
                                      if (type != BoxType("trak"))
                                          return;
                                      tracks.emplace_back();
                                      ReadBoxes(payload, 1, tracks.back());
                                  });
    if (!whole || tracks.empty() || tracks.size() > 64)
        return false;
    for (size_t t = 0; t < tracks.size(); ++t) {
        // Audio (PCM above all) has a sample per channel frame: its chunks are
        // enough. Video samples are listed one by one when their sizes are,
        // so that a short table never stands for millions of them.
        const bool video = tracks[t].handler == BoxType("vide") && tracks[t].fixedSize == 0;
        const Granularity granularity = video ? Granularity::Samples : Granularity::Chunks;
        if (tracks[t].damaged || !JoinTables(tracks[t], static_cast<uint16_t>(t), granularity, tables.samples))
            return false;
        const bool pcm = tracks[t].handler == BoxType("soun") && tracks[t].coding.coding == SampleCoding::Pcm16;
        tables.tracks.push_back(video || pcm ? tracks[t].coding : TrackCoding{});
    }
    std::sort(tables.samples.begin(), tables.samples.end(),
              [](const MediaSample& a, const MediaSample& b) { return a.offset < b.offset; });
    return true;
}

namespace {

bool PlausibleNalHeader(SampleCoding coding, const uint8_t* header, size_t available) {
    if (available < 1 || (header[0] & 0x80) != 0)
        return false;
    if (coding == SampleCoding::Avc) {
        const uint8_t type = header[0] & 0x1F;
        return type >= 1 && type <= 23;
    }
    if (available < 2)
        return true;
    const uint8_t type = (header[0] >> 1) & 0x3F;
    const bool layerZero = (header[0] & 1) == 0 && (header[1] >> 3) == 0;
    return type <= 40 && layerZero && (header[1] & 7) != 0;
}

} // namespace

bool BeginsSample(const TrackCoding& track, const uint8_t* bytes, size_t available, uint32_t size) {
    switch (track.coding) {
    case SampleCoding::Unchecked:
        return true;
    case SampleCoding::Pcm16:
        return true;
    case SampleCoding::Aac:
        return MayBeAacFrame(track.aac, bytes, available, size);
    case SampleCoding::Mpeg4Part2:
        return available < 3 || (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1);
    case SampleCoding::Avc:
    case SampleCoding::Hevc:
        break;
    }
    const uint32_t prefix = track.nalLengthBytes;
    // Every NAL unit whose prefix lies inside what was read.
    uint64_t at = 0;
    while (at + prefix <= available && at < size) {
        uint32_t length = 0;
        for (uint32_t i = 0; i < prefix; ++i)
            length = length << 8 | bytes[at + i];
        if (length == 0 || at + prefix + length > size)
            return false;
        const auto header = static_cast<size_t>(std::min<uint64_t>(available - at - prefix, 2));
        if (header > 0 && !PlausibleNalHeader(track.coding, bytes + at + prefix, header))
            return false;
        at += prefix + length;
    }
    return true;
}

bool PlausiblePcm(const TrackCoding& track, const uint8_t* bytes, size_t size) {
    // Random data differs by a third of the range on average; sound, even
    // loud, by a small part of it.
    constexpr uint64_t kMostMeanStep = 16384;
    const size_t frame = 2 * size_t{std::max<uint32_t>(track.channels, 1)};
    const size_t frames = size / frame;
    if (frames < 2)
        return true;
    const auto value = [&](size_t at) {
        const uint16_t raw = track.bigEndian ? uint16_t(bytes[at] << 8 | bytes[at + 1]) : uint16_t(bytes[at + 1] << 8 | bytes[at]);
        return static_cast<int32_t>(static_cast<int16_t>(raw));
    };
    uint64_t steps = 0;
    for (size_t f = 1; f < frames; ++f)
        for (size_t c = 0; c < frame; c += 2)
            steps += static_cast<uint64_t>(std::abs(value(f * frame + c) - value((f - 1) * frame + c)));
    return steps / ((frames - 1) * (frame / 2)) <= kMostMeanStep;
}

} // namespace Kalvory
