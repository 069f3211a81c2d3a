#include "ISOBMFF_Repair.h"

#include <algorithm>

#include "AAA_DebugLog.h"
#include "AVCHD_Fragments.h"
#include "ISOBMFF_AccessUnits.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_Moov.h"

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

} // namespace

std::optional<VideoTemplate> TemplateOfClip(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                            const DirEntry& clip) {
    if (clip.start >= volume.totalBytes)
        return std::nullopt;
    const TopLevelWalk walk = WalkTopLevelBoxes(stream, clip.start, volume.totalBytes - clip.start);
    std::optional<FoundMoov> moov = FindMoov(stream, volume, clip.start, walk);
    return moov ? VideoTemplateOf(std::move(moov->bytes)) : std::nullopt;
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
    const std::vector<FoundSample> found = FindAccessUnits(stream, payload, end, units);
    if (found.empty())
        return false;
    std::vector<RebuiltSample> samples;
    samples.reserve(found.size());
    for (const FoundSample& sample : found)
        samples.push_back({sample.offset - entry.start, sample.size, sample.sync});
    const std::optional<std::vector<uint8_t>> moov = RebuildMoov(from, samples);
    if (!moov)
        return false;
    auto rewritten = std::make_shared<FSAccessLib::RewrittenBytes>();
    // An mdat whose size runs past its data ends where its last sample does.
    uint64_t length = walk.mdatAt + walk.mdatSize;
    const uint64_t dataEnd = samples.back().offset + samples.back().size;
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
    AAA::DebugLog(3, "%s: its moov is missing; %d video samples found, a moov rebuilt for them\n", entry.name,
                  static_cast<int>(samples.size()));
    return true;
}

} // namespace Kalvory
