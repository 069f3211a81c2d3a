#include "Kalvory_CardScan.h"

#include <algorithm>

#include "AAA_DebugLog.h"
#include "AAA_FileStream.h"
#include "AAA_Progress.h"
#include "Commands.h"

namespace Kalvory {
namespace {

using AAA::ByteRange;
using FSAccessLib::DirEntry;

constexpr uint64_t kWindow = AAA::FileStream::kCardWindow;
constexpr uint32_t kGapSector = 512;

uint64_t EndWithin(const ByteRange& range, uint64_t limit) {
    return range.length > limit - std::min(range.start, limit) ? limit : range.start + range.length;
}

// How far into the volume, in its offsets, files found before it run.
class CommandReachIntoVolume : public FSAccessLib::Command {
public:
    explicit CommandReachIntoVolume(uint64_t volumeOffset) : volumeInWindow_(kWindow + volumeOffset) {}
    void Execute(DirEntry& entry) override {
        for (const ByteRange& range : entry.DataRanges())
            if (range.start >= kWindow && range.End() > volumeInWindow_)
                reach = std::max(reach, range.End() - volumeInWindow_);
    }
    uint64_t reach = 0;

private:
    uint64_t volumeInWindow_;
};

// One gap as the searcher reads it: `toStream` moves card offsets into the
// stream's, finds are bounded by the card's end and named by card sectors.
SearchRange GapRange(const ByteRange& gap, uint64_t toStream, int64_t toCard, uint64_t cardEndInStream) {
    SearchRange range;
    range.begin = gap.start + toStream;
    range.end = gap.End() + toStream;
    range.fileEnd = cardEndInStream;
    range.step = kGapSector;
    range.nameShift = toCard;
    range.nameSectorBytes = kGapSector;
    return range;
}

} // namespace

uint64_t CardPlace::CardOffset(uint64_t streamOffset) const {
    return window && streamOffset >= kWindow ? streamOffset - kWindow : streamOffset + volumeOffset;
}

int64_t CardPlace::VolumeOffset(uint64_t streamOffset) const {
    return static_cast<int64_t>(CardOffset(streamOffset)) - static_cast<int64_t>(volumeOffset);
}

CardPlace PlaceOf(const FSAccessLib::FSAccessBase& reader) {
    CardPlace place;
    place.volumeOffset = reader.volumeOffset;
    place.window = reader.stream && reader.stream->CardWindowOpen();
    return place;
}

uint64_t ReadEnd(const FSAccessLib::FSAccessBase& reader, const SourceLayout& layout, uint64_t start) {
    if (reader.stream && reader.stream->InCardWindow(start))
        return kWindow + layout.cardBytes;
    return layout.gapsScanned.empty() ? reader.ReadableEnd() : MediaEnd(reader, layout);
}

uint64_t MediaEnd(const FSAccessLib::FSAccessBase& reader, const SourceLayout& layout) {
    if (layout.gapsScanned.empty() || layout.cardBytes <= layout.volumeOffset)
        return reader.totalBytes;
    return std::max(reader.totalBytes, layout.cardBytes - layout.volumeOffset);
}

std::vector<ByteRange> CardGaps(const SourceLayout& layout, uint64_t volumeBytes) {
    if (layout.found != VolumeFound::Partition && layout.found != VolumeFound::BootSector)
        return {};
    const uint64_t card = layout.cardBytes;
    std::vector<ByteRange> taken = layout.otherVolumes;
    taken.push_back({layout.volumeOffset, volumeBytes});
    std::sort(taken.begin(), taken.end(), [](const ByteRange& a, const ByteRange& b) { return a.start < b.start; });
    std::vector<ByteRange> gaps;
    uint64_t at = 0;
    for (const ByteRange& volume : taken) {
        const uint64_t start = std::min(volume.start, card);
        if (start > at)
            gaps.push_back({at, start - at});
        at = std::max(at, EndWithin(volume, card));
    }
    if (card > at)
        gaps.push_back({at, card - at});
    return gaps;
}

int ScanCard(FSAccessLib::FSAccessBase& reader, DirEntry& root, SourceLayout& layout, FoundFolders foundFolders) {
    const std::vector<ByteRange> gaps = CardGaps(layout, reader.totalBytes);
    const uint64_t volumeOffset = layout.volumeOffset;
    if (gaps.empty() || layout.cardBytes <= volumeOffset)
        return SectorSearch(reader, root, foundFolders);
    layout.gapsScanned = gaps;
    uint64_t gapBytes = 0;
    for (const ByteRange& gap : gaps)
        gapBytes += gap.length;
    AAA::DebugLog(6, "the card's %I64d bytes outside the volume are scanned too\n", gapBytes);
    const auto beforeVolume = [&](const ByteRange& gap) { return gap.End() <= volumeOffset; };
    const uint64_t cardEnd = layout.cardBytes - volumeOffset; // in the volume's offsets
    // The seeks count in card offsets through the window, else in the volume's.
    if (std::any_of(gaps.begin(), gaps.end(), beforeVolume)) {
        reader.stream->OpenCardWindow();
        Restore::SetProgressTotal(layout.cardBytes);
    } else {
        Restore::SetProgressTotal(cardEnd);
    }
    int count = 0;
    for (const ByteRange& gap : gaps) {
        if (!beforeVolume(gap))
            continue;
        SectorSearcher searcher(reader, root, KnownCarvingFormats(), FoundFolders::Ignore);
        count += searcher.Run(GapRange(gap, kWindow, -static_cast<int64_t>(kWindow), kWindow + layout.cardBytes));
    }
    // A find that runs on into the volume was read already: the volume's
    // search starts after it, at a step of its own.
    CommandReachIntoVolume reach(volumeOffset);
    root.Apply(reach);
    SectorSearcher volume(reader, root, KnownCarvingFormats(), foundFolders);
    SearchRange range = volume.VolumeRange();
    if (reach.reach > range.begin)
        range.begin += (reach.reach - range.begin + range.step - 1) / range.step * range.step;
    range.fileEnd = std::max(range.fileEnd, cardEnd); // a file may run on past the volume's end
    count += volume.Run(range);
    for (const ByteRange& gap : gaps) {
        if (beforeVolume(gap))
            continue;
        SectorSearcher searcher(reader, root, KnownCarvingFormats(), FoundFolders::Ignore);
        count += searcher.Run(GapRange(gap, 0 - volumeOffset, static_cast<int64_t>(volumeOffset), cardEnd));
    }
    return count;
}

} // namespace Kalvory
