#include "ISOBMFF_Companions.h"

#include <algorithm>
#include <cmath>

#include "ContentJudge.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_Moov.h"
#include "ISOBMFF_Names.h"
#include "M4ROOT_Sidecars.h"
#include "Picture_ClipThumbnail.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

// Past the clip's own documents, a thumbnail and a copy: no more files to look at.
constexpr size_t kMostFollowers = 4;

// What two recordings of one scene share, and how their pictures differ.
struct MovieShape {
    double seconds = 0;
    uint32_t width = 0; // of the largest track's picture
    uint32_t height = 0;
};

// Calls `each(type, payload, payloadSize)` for every box in the span.
template <class Each>
void ForEachBox(const uint8_t* bytes, size_t size, Each each) {
    for (size_t at = 0; at + 8 <= size;) {
        BoxHeader header;
        if (!ParseBoxHeader(bytes + at, size - at, header) || header.size > size - at)
            return;
        each(header.type, bytes + at + header.headerBytes, static_cast<size_t>(header.size) - header.headerBytes);
        at += static_cast<size_t>(header.size);
    }
}

void ReadMovieHeader(const uint8_t* payload, size_t size, MovieShape& shape) {
    const bool wide = size >= 1 && payload[0] == 1;
    const size_t scaleAt = wide ? 20 : 12;
    if (size < scaleAt + (wide ? 12 : 8))
        return;
    const uint32_t scale = Be32(payload + scaleAt);
    const uint64_t duration = wide ? Be64(payload + scaleAt + 4) : Be32(payload + scaleAt + 4);
    if (scale != 0)
        shape.seconds = static_cast<double>(duration) / scale;
}

std::optional<MovieShape> ShapeOf(const std::vector<uint8_t>& moov) {
    BoxHeader header;
    if (!ParseBoxHeader(moov.data(), moov.size(), header) || header.size > moov.size())
        return std::nullopt;
    MovieShape shape;
    ForEachBox(moov.data() + header.headerBytes, header.size - header.headerBytes,
               [&](uint32_t type, const uint8_t* payload, size_t size) {
                   if (type == BoxType("mvhd"))
                       ReadMovieHeader(payload, size, shape);
                   if (type != BoxType("trak"))
                       return;
                   ForEachBox(payload, size, [&](uint32_t inner, const uint8_t* track, size_t trackSize) {
                       // Width and height, 16.16 fixed point, end the track header.
                       if (inner == BoxType("tkhd") && trackSize >= 84) {
                           shape.width = std::max(shape.width, Be32(track + trackSize - 8) >> 16);
                           shape.height = std::max(shape.height, Be32(track + trackSize - 4) >> 16);
                       }
                   });
               });
    return shape.width != 0 && shape.height != 0 && shape.seconds > 0 ? std::optional(shape) : std::nullopt;
}

std::optional<MovieShape> ClipShape(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, const DirEntry& clip) {
    if (clip.start >= volume.totalBytes)
        return std::nullopt;
    const TopLevelWalk walk = WalkTopLevelBoxes(stream, clip.start, volume.totalBytes - clip.start);
    const std::optional<FoundMoov> moov = FindMoov(stream, volume, clip.start, walk);
    return moov ? ShapeOf(moov->bytes) : std::nullopt;
}

uint32_t BrandOf(AAA::Stream& stream, const DirEntry& clip) {
    uint8_t head[16] = {};
    stream.Seek(static_cast<int64_t>(clip.start), AAA::SeekBegin);
    return MajorBrand(head, stream.Read(head, sizeof head));
}

bool IsPicture(const DirEntry& entry) {
    const AAA::WString extension = UpperExtension(entry.name);
    return extension == u"JPG" || extension == u"THM";
}

} // namespace

CompanionFinder::CompanionFinder(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, const DirEntry& root)
    : stream_(stream), volume_(volume), root_(root), given_(root.children.size()) {
    for (size_t i = 0; i < root.children.size(); ++i) {
        const DirEntry& entry = root.children[i];
        if (entry.carved && !entry.isDirectory && !entry.fromFoundFolder && entry.length != 0)
            byPlace_.push_back(i);
    }
    std::stable_sort(byPlace_.begin(), byPlace_.end(),
                     [&](size_t a, size_t b) { return root.children[a].start < root.children[b].start; });
}

ClipCompanions CompanionFinder::Find(size_t clip, LowResolutionCopies lowResolution) {
    ClipCompanions found;
    const auto at = std::find(byPlace_.begin(), byPlace_.end(), clip);
    if (at == byPlace_.end() || given_[clip])
        return found;
    for (auto next = at + 1; next != byPlace_.end() && next - at <= static_cast<std::ptrdiff_t>(kMostFollowers); ++next) {
        const DirEntry& entry = root_.children[*next];
        if (given_[*next])
            break;
        if (UpperExtension(entry.name) == u"XML" && ClipMetaLength(stream_, entry.start) == entry.length)
            continue;
        if (!found.thumbnail && IsPicture(entry) && HasThumbnailShape(stream_, entry.start)) {
            found.thumbnail = *next;
            continue;
        }
        if (lowResolution == LowResolutionCopies::Taken && !found.lowResolution && IsIsoMediaName(entry.name) &&
            IsLowResolutionCopy(root_.children[clip], entry)) {
            found.lowResolution = *next;
            continue;
        }
        break;
    }
    for (const std::optional<size_t>& companion : {found.thumbnail, found.lowResolution})
        if (companion)
            given_[*companion] = true;
    return found;
}

bool CompanionFinder::IsLowResolutionCopy(const DirEntry& clip, const DirEntry& copy) const {
    if (BrandOf(stream_, clip) != BrandOf(stream_, copy))
        return false;
    const std::optional<MovieShape> full = ClipShape(stream_, volume_, clip);
    const std::optional<MovieShape> low = full ? ClipShape(stream_, volume_, copy) : std::nullopt;
    constexpr double kSameRecording = 1.0; // seconds
    return low && low->width < full->width && low->height < full->height &&
           std::abs(low->seconds - full->seconds) <= kSameRecording;
}

} // namespace Kalvory
