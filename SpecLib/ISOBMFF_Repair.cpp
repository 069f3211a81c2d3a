#include "ISOBMFF_Repair.h"

#include <algorithm>
#include <cmath>

#include "AAA_DebugLog.h"
#include "AVCHD_Fragments.h"
#include "ISOBMFF_AccessUnits.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_Moov.h"
#include "ISOBMFF_SampleTables.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

// The file's bytes up to the mdat's payload, the mdat's size set to `mdatSize`.
std::optional<std::vector<uint8_t>> HeadWithMdatSize(AAA::Stream& stream, uint64_t start, const TopLevelWalk& walk,
                                                     uint64_t mdatSize) {
    std::vector<uint8_t> head(static_cast<size_t>(walk.mdatAt + walk.mdatHeaderBytes));
    stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
    if (stream.Read(head.data(), static_cast<uint32_t>(head.size())) != head.size())
        return std::nullopt;
    uint8_t* size = head.data() + walk.mdatAt + (walk.mdatHeaderBytes == 16 ? 8 : 0);
    const int bytes = walk.mdatHeaderBytes == 16 ? 8 : 4;
    for (int i = 0; i < bytes; ++i)
        size[i] = static_cast<uint8_t>(mdatSize >> (8 * (bytes - 1 - i)));
    return head;
}

// Where the clip's data stops when its mdat's size runs past it: the first of
// its clusters that is free (zeros) or begins another file.
uint64_t DataEnd(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, uint64_t start, uint64_t end) {
    const uint64_t cluster = std::max<uint32_t>(volume.clusterSize, 512);
    std::vector<uint8_t> bytes(static_cast<size_t>(cluster));
    for (uint64_t at = start + cluster; at < end; at += cluster) {
        stream.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
        const uint32_t got = stream.Read(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (got == 0 || IsIsoMediaStart(bytes.data(), got) ||
            std::all_of(bytes.begin(), bytes.begin() + got, [](uint8_t b) { return b == 0; }))
            return at;
    }
    return end;
}

// The bytes of the mdat that are no video sample: the sound's chunks.
std::vector<Gap> GapsBetween(const std::vector<FoundSample>& found, uint64_t payload, uint64_t end) {
    std::vector<Gap> gaps;
    uint64_t at = payload;
    for (const FoundSample& sample : found) {
        if (sample.offset > at)
            gaps.push_back({at, sample.offset - at});
        at = sample.offset + sample.size;
    }
    if (end > at)
        gaps.push_back({at, end - at});
    return gaps;
}

// The sound chunks (file offsets) when they run as long as the pictures;
// none when the sound cannot be read back.
std::vector<AudioChunk> SoundOf(AAA::Stream& stream, const VideoTemplate& from, const std::vector<FoundSample>& found,
                                uint64_t payload, uint64_t end, uint64_t start) {
    if (!from.audio || from.pictureDelta == 0 || from.pictureScale == 0)
        return {};
    std::optional<std::vector<AudioChunk>> chunks = FindAudioChunks(stream, *from.audio, GapsBetween(found, payload, end));
    if (!chunks)
        return {};
    // Sound and pictures recorded together end together; else the gaps held something else.
    const double pictures = double(found.size()) * from.pictureDelta / from.pictureScale;
    const double sound = double(AudioDuration(*from.audio, *chunks)) / from.audio->mediaScale;
    if (std::abs(pictures - sound) > 1.0)
        return {};
    for (AudioChunk& chunk : *chunks)
        chunk.offset -= start;
    return std::move(*chunks);
}

// The slice headers of the template's first pictures, read where its NAL
// units fill each sample exactly (a sample elsewhere on a fragmented card
// reads otherwise). Only each unit's prefix and header are read.
uint8_t SliceKindsOf(AAA::Stream& stream, uint64_t start, uint64_t totalBytes, const VideoTemplate& from) {
    constexpr size_t kPicturesRead = 600;
    constexpr int kMostUnits = 64;
    MovieTables tables;
    if (!ParseMovieTables(from.moov.data(), from.moov.size(), tables))
        return 0;
    uint8_t kinds = 0;
    size_t read = 0;
    for (const MediaSample& sample : tables.samples) {
        if (read == kPicturesRead)
            break;
        if (sample.track != from.track || start + sample.offset + sample.size > totalBytes)
            continue;
        ++read;
        uint8_t seen = 0;
        uint64_t at = 0;
        for (int units = 0; units < kMostUnits && at + from.nalLengthBytes < sample.size; ++units) {
            uint8_t bytes[5] = {};
            stream.Seek(static_cast<int64_t>(start + sample.offset + at), AAA::SeekBegin);
            if (stream.Read(bytes, from.nalLengthBytes + 1) != from.nalLengthBytes + 1)
                break;
            uint64_t length = 0;
            for (uint32_t i = 0; i < from.nalLengthBytes; ++i)
                length = length << 8 | bytes[i];
            const uint8_t header = bytes[from.nalLengthBytes];
            if ((header & 0x1F) == 1 || (header & 0x1F) == 5)
                seen |= SliceKind(header);
            at += from.nalLengthBytes + length;
        }
        if (at == sample.size)
            kinds |= seen;
    }
    return kinds;
}

} // namespace

std::optional<VideoTemplate> TemplateOfClip(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                            const DirEntry& clip) {
    if (clip.start >= volume.totalBytes)
        return std::nullopt;
    const TopLevelWalk walk = WalkTopLevelBoxes(stream, clip.start, volume.totalBytes - clip.start);
    std::optional<FoundMoov> moov = FindMoov(stream, volume, clip.start, walk);
    std::optional<VideoTemplate> from = moov ? VideoTemplateOf(std::move(moov->bytes)) : std::nullopt;
    if (from)
        from->sliceKinds = SliceKindsOf(stream, clip.start, volume.totalBytes, *from);
    // A camera that writes B pictures may leave any of them unreferenced, in its first pictures or not.
    if (from && from->sliceKinds != 0 && from->reordered)
        from->sliceKinds |= SliceKind(0x01);
    return from;
}

bool RepairIsoMedia(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
                    const VideoTemplate& from) {
    if (entry.start >= volume.totalBytes || !TakenAsOneRun(entry))
        return false;
    const TopLevelWalk walk = WalkTopLevelBoxes(stream, entry.start, volume.totalBytes - entry.start);
    if (walk.mdatAt == 0 || walk.moovAt != 0)
        return false;
    const uint64_t payload = entry.start + walk.mdatAt + walk.mdatHeaderBytes;
    const uint64_t room = volume.totalBytes - (entry.start + walk.mdatAt);
    const uint64_t declared = entry.start + walk.mdatAt + std::min(walk.mdatSize, room);
    const uint64_t end = walk.mdatSize > room || walk.foreign ? DataEnd(stream, volume, entry.start, declared) : declared;
    // Pictures of another scene may be larger than the template's largest.
    constexpr uint32_t kLeastLongest = 64u << 10;
    NalUnits units;
    units.lengthBytes = from.nalLengthBytes;
    units.longest = std::max(kLeastLongest, 4 * std::min(from.largestSample, UINT32_MAX / 4));
    units.pps = from.ppsId;
    units.sliceKinds = from.sliceKinds;
    const std::vector<FoundSample> found = FindAccessUnits(stream, payload, end, units);
    if (found.empty())
        return false;
    std::vector<RebuiltSample> samples;
    samples.reserve(found.size());
    for (const FoundSample& sample : found)
        samples.push_back({sample.offset - entry.start, sample.size, sample.sync});
    // Pictures shown in another order than stored get it back; without, they show as decoded.
    if (from.reordered && from.sequence)
        if (const auto shown = CompositionOffsets(stream, found, from.nalLengthBytes, *from.sequence, from.pictureDelta))
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i].composition = (*shown)[i];
    const std::vector<AudioChunk> sound =
        SoundOf(stream, from, found, payload, end, entry.start);
    const std::optional<std::vector<uint8_t>> moov = RebuildMoov(from, samples, sound);
    if (!moov)
        return false;
    auto rewritten = std::make_shared<FSAccessLib::RewrittenBytes>();
    // An mdat whose size runs past its data ends where its last sample does.
    uint64_t length = walk.mdatAt + walk.mdatSize;
    uint64_t dataEnd = samples.back().offset + samples.back().size;
    if (!sound.empty())
        dataEnd = std::max(dataEnd, sound.back().offset + sound.back().bytes);
    if (walk.mdatSize > room || dataEnd < length) {
        const std::optional<std::vector<uint8_t>> head = HeadWithMdatSize(stream, entry.start, walk, dataEnd - walk.mdatAt);
        if (!head)
            return false;
        rewritten->head = *head;
        length = dataEnd;
    }
    rewritten->tail = *moov;
    entry.chain.clear();
    entry.chainBroken = false;
    entry.length = length;
    entry.rewritten = std::move(rewritten);
    entry.repaired = true;
    AAA::DebugLog(3, "%s: its moov is missing; %d video samples and %d sound chunks found, a moov rebuilt for them\n",
                  entry.name, static_cast<int>(samples.size()), static_cast<int>(sound.size()));
    return true;
}

} // namespace Kalvory
