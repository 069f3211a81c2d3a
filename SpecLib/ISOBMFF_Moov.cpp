#include "ISOBMFF_Moov.h"

#include <algorithm>

#include "AVCHD_Fragments.h"

namespace Kalvory {
namespace {

// The cluster ends inside a moov where its first piece may stop.
constexpr int kMostMoovClusterEnds = 64;

bool IsContainer(uint32_t type) {
    return type == BoxType("moov") || type == BoxType("trak") || type == BoxType("mdia") ||
           type == BoxType("minf") || type == BoxType("stbl") || type == BoxType("edts") || type == BoxType("dinf");
}

bool IsBoxTypeByte(uint8_t c) { return (c >= 0x20 && c <= 0x7E) || c == 0xA9; }

// The offset of the first box header of the moov's tree at or after `from`,
// found from the bytes before it.
std::optional<uint64_t> FirstHeaderFrom(const std::vector<uint8_t>& moov, uint64_t from) {
    uint64_t at = 0, end = moov.size();
    for (int steps = 0; steps < 100000 && at < end; ++steps) {
        if (at >= from)
            return at;
        BoxHeader header;
        if (at + 16 > from || !ParseBoxHeader(moov.data() + at, from - at, header) || header.size > end - at)
            return std::nullopt;
        if (IsContainer(header.type)) {
            end = at + header.size; // the tree's next header lies inside it
            at += header.headerBytes;
        } else {
            at += header.size;
        }
    }
    return std::nullopt;
}

class MoovSearch {
public:
    MoovSearch(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, uint64_t start)
        : stream_(stream), volume_(volume), start_(start), cluster_(std::max<uint32_t>(volume.clusterSize, 1)) {}

    std::optional<FoundMoov> Find(const TopLevelWalk& walk) {
        if (walk.moovAt != 0) {
            moov_.file = walk.moovAt;
            return Read(start_ + walk.moovAt) ? std::optional<FoundMoov>(std::move(moov_)) : std::nullopt;
        }
        if (!walk.foreign || walk.mdatAt == 0)
            return std::nullopt;
        moov_.file = walk.mdatAt + walk.mdatSize;
        const uint64_t within = moov_.file % cluster_;
        const uint64_t home = start_ + moov_.file / cluster_ * cluster_;
        const uint64_t limit = std::min(volume_.totalBytes, home + kFragmentSearchBytes);
        for (uint64_t candidate = start_ + cluster_; candidate + within + 16 <= limit; candidate += cluster_)
            if (candidate != home && HoldsMoov(candidate + within) && Read(candidate + within))
                return std::move(moov_);
        return std::nullopt;
    }

private:
    bool HoldsMoov(uint64_t at) {
        BoxHeader moov, first;
        return ReadBoxHeader(stream_, at, moov) && moov.type == BoxType("moov") && moov.size <= kLongestMoov &&
               moov.size <= volume_.totalBytes - at && ReadBoxHeader(stream_, at + moov.headerBytes, first) &&
               first.type == BoxType("mvhd") && first.size < moov.size;
    }

    bool ReadAt(uint64_t at, uint8_t* bytes, uint64_t count) {
        stream_.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
        return stream_.Read(bytes, static_cast<uint32_t>(count)) == count;
    }

    // The moov whose header is at `at`, in one piece or two.
    bool Read(uint64_t at) {
        BoxHeader header;
        if (!ReadBoxHeader(stream_, at, header) || header.size > kLongestMoov || header.size > volume_.totalBytes - at)
            return false;
        moov_.disk = at;
        moov_.split = 0;
        moov_.bytes.resize(static_cast<size_t>(header.size));
        if (ReadAt(at, moov_.bytes.data(), header.size) &&
            ParseMovieTables(moov_.bytes.data(), moov_.bytes.size(), moov_.tables))
            return true;
        // Its first piece ends at one of the cluster ends it crosses.
        const std::vector<uint8_t> whole = moov_.bytes;
        uint64_t head = cluster_ - (at - start_) % cluster_;
        for (int ends = 0; head < header.size && ends < kMostMoovClusterEnds; head += cluster_, ++ends) {
            if (ReadMoovTail(head))
                return true;
            moov_.bytes = whole;
        }
        return false;
    }

    // The cluster after the moov's first piece that continues its boxes.
    bool ReadMoovTail(uint64_t head) {
        const std::optional<uint64_t> next = FirstHeaderFrom(moov_.bytes, head);
        const uint64_t rest = moov_.Size() - head;
        const uint64_t after = moov_.disk + head;
        const uint64_t limit = std::min(volume_.totalBytes, after + kFragmentSearchBytes);
        std::vector<uint8_t> tail(static_cast<size_t>(rest));
        for (uint64_t candidate = after + cluster_; candidate + rest <= limit; candidate += cluster_) {
            if (next && *next + 8 <= moov_.Size()) {
                uint8_t bytes[8] = {};
                BoxHeader header;
                if (!ReadAt(candidate + (*next - head), bytes, 8) || !ParseBoxHeader(bytes, 8, header) ||
                    !std::all_of(bytes + 4, bytes + 8, IsBoxTypeByte))
                    continue;
            }
            if (!ReadAt(candidate, tail.data(), rest))
                continue;
            std::copy(tail.begin(), tail.end(), moov_.bytes.begin() + static_cast<std::ptrdiff_t>(head));
            if (ParseMovieTables(moov_.bytes.data(), moov_.bytes.size(), moov_.tables)) {
                moov_.split = head;
                moov_.tailDisk = candidate;
                return true;
            }
        }
        return false;
    }

    AAA::Stream& stream_;
    const FSAccessLib::FSAccessBase& volume_;
    uint64_t start_;
    uint64_t cluster_;
    FoundMoov moov_;
};

} // namespace

std::optional<FoundMoov> FindMoov(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, uint64_t start,
                                  const TopLevelWalk& walk) {
    return MoovSearch(stream, volume, start).Find(walk);
}

} // namespace Kalvory
