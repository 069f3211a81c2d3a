#include "AVCHD_ClusterTrail.h"

#include <algorithm>
#include <optional>

#include "AAA_DebugLog.h"
#include "ClusterReadWindow.h"
#include "AVCHD_Files.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

class ClusterTrail {
public:
    ClusterTrail(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
                 std::vector<uint8_t>& buffer)
        : stream_(stream), volume_(volume), entry_(entry), buffer_(buffer), cluster_(volume.clusterSize) {}

    StreamFragments Run() {
        bool skipped = false;
        uint64_t next = 0; // the first cluster after the chain
        for (const AAA::ByteRange& range : entry_.DataRanges()) {
            for (uint64_t at = range.start; at < range.start + range.length; at += cluster_) {
                const std::optional<bool> kept = Offer(at);
                if (!kept)
                    return done_ == 0 ? StreamFragments::Unvouched : Result(skipped);
                skipped = skipped || !*kept;
                if (done_ == 0)
                    return StreamFragments::Unvouched;
                if (done_ >= entry_.length)
                    return Result(skipped);
            }
            next = std::max(next, range.start + (range.length + cluster_ - 1) / cluster_ * cluster_);
        }
        for (uint64_t at = next; at + cluster_ <= volume_.totalBytes && at <= lastKept_ + kFragmentSearchBytes;
             at += cluster_) {
            if (!Offer(at))
                break;
            if (done_ >= entry_.length)
                return Result(true);
        }
        return Result(true);
    }

private:
    // Whether the cluster at `at` continues the stream (and was kept); nullopt
    // when it cannot be read.
    std::optional<bool> Offer(uint64_t at) {
        const uint64_t take = std::min<uint64_t>(cluster_, entry_.length - done_);
        const uint8_t* bytes = Bytes(at, take);
        if (bytes == nullptr)
            return std::nullopt;
        std::optional<uint32_t> last = last_;
        // The file's packet grid: the piece before the first packet start ends a packet begun earlier.
        for (uint64_t p = (kSourcePacketBytes - done_ % kSourcePacketBytes) % kSourcePacketBytes; p + 5 <= take;
             p += kSourcePacketBytes) {
            const uint32_t ats = PacketAts(bytes + p);
            if (bytes[p + 4] != 0x47 || (last && !AtsContinues(*last, ats)))
                return false;
            last = ats;
        }
        last_ = last;
        KeepCluster(runs_, at, take, &entry_);
        done_ += take;
        lastKept_ = at;
        return true;
    }

    const uint8_t* Bytes(uint64_t at, uint64_t take) { return window_.Bytes(at, take, entry_.length - done_); }

    StreamFragments Result(bool skipped) {
        if (done_ >= entry_.length && !skipped)
            return StreamFragments::Whole;
        entry_.chain = runs_;
        entry_.chainBroken = false;
        if (done_ >= entry_.length) {
            AAA::DebugLog(7, "\t%s: its own clusters followed by their arrival times, %d runs\n", entry_.name,
                          static_cast<int>(runs_.size()));
            return StreamFragments::Stitched;
        }
        entry_.partial = true;
        AAA::DebugLog(3, "%s: only %I64d of its %I64d bytes are the stream's own; kept as partial\n", entry_.name,
                      done_, entry_.length);
        return StreamFragments::Partial;
    }

    AAA::Stream& stream_;
    const FSAccessLib::FSAccessBase& volume_;
    DirEntry& entry_;
    std::vector<uint8_t>& buffer_;
    uint64_t cluster_;
    uint64_t done_ = 0;
    uint64_t lastKept_ = 0;
    std::optional<uint32_t> last_;
    std::vector<FSAccessLib::DataBlock> runs_;
    ClusterReadWindow window_{stream_, buffer_, kStreamReadBytes};
};

} // namespace

StreamFragments FollowStreamClusters(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
                                     std::vector<uint8_t>& buffer) {
    if (volume.clusterSize == 0 || entry.length < kPacketWindowBytes || entry.chain.empty())
        return StreamFragments::Unvouched;
    return ClusterTrail(stream, volume, entry, buffer).Run();
}

} // namespace Kalvory
