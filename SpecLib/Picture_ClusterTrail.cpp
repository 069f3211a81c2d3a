#include "Picture_ClusterTrail.h"

#include <algorithm>

#include "AAA_DebugLog.h"
#include "ClusterReadWindow.h"
#include "Picture_ScanWalk.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

constexpr uint64_t kStillReadBytes = 256 * 1024;

enum class Offer { Kept, Skipped, Done, GiveUp };

class StillTrail {
public:
    StillTrail(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
               std::vector<uint8_t>& buffer)
        : stream_(stream), volume_(volume), entry_(entry), buffer_(buffer), cluster_(volume.clusterSize),
          walk_(entry.length, Spacing::Checked) {}

    StillFragments Run() {
        uint64_t next = 0; // the first cluster after the entry's data
        for (const AAA::ByteRange& range : entry_.DataRanges()) {
            for (uint64_t at = range.start; at < range.start + range.length; at += cluster_) {
                const Offer offer = Try(at);
                if (offer == Offer::Done)
                    return Result();
                if (offer == Offer::GiveUp || done_ == 0 || Lost(at))
                    return StillFragments::Unchanged;
            }
            next = std::max(next, range.start + (range.length + cluster_ - 1) / cluster_ * cluster_);
        }
        for (uint64_t at = next; at + cluster_ <= volume_.ReadableEnd() && !Lost(at); at += cluster_) {
            const Offer offer = Try(at);
            if (offer == Offer::Done)
                return Result();
            if (offer == Offer::GiveUp)
                break;
        }
        return StillFragments::Unchanged;
    }

private:
    // A seam open for longer than the search reaches: the picture's next cluster is gone.
    bool Lost(uint64_t at) const { return searching_ && at > lastKept_ + kStillSearchBytes; }

    Offer Try(uint64_t at) {
        const uint64_t take = std::min<uint64_t>(cluster_, entry_.length - done_);
        const uint8_t* bytes = Bytes(at, take);
        if (bytes == nullptr)
            return Offer::GiveUp; // unreadable
        JpegScanWalk walk = walk_;
        const ScanStep step = walk.Feed(bytes, take);
        // After a skip only the picture's own markers vouch for a cluster.
        const bool fits = searching_ ? step == ScanStep::Confirmed || step == ScanStep::Ends
                                     : step != ScanStep::Refuted;
        if (!fits) {
            // Without restart intervals the picture cannot vouch for a cluster after a skip: its
            // end-of-image marker at the length says nothing of the clusters before its last.
            if (!walk_.Strict())
                return Offer::GiveUp;
            // Another picture's coded data nearby: one restart marker in its order would not tell
            // it from this one's.
            if (LooksLikePictureData(bytes, take))
                return Offer::GiveUp;
            searching_ = true;
            skipped_ = true;
            return Offer::Skipped;
        }
        walk_ = walk;
        KeepCluster(runs_, at, take, &entry_);
        done_ += take;
        lastKept_ = at;
        searching_ = false;
        return step == ScanStep::Ends ? Offer::Done : Offer::Kept;
    }

    const uint8_t* Bytes(uint64_t at, uint64_t take) { return window_.Bytes(at, take, entry_.length - done_); }

    StillFragments Result() {
        if (!skipped_ || done_ != entry_.length)
            return StillFragments::Unchanged;
        entry_.chain = runs_;
        entry_.chainBroken = false;
        AAA::DebugLog(7, "\t%s: its own clusters followed by its restart markers, %d runs\n", entry_.name,
                      static_cast<int>(runs_.size()));
        return StillFragments::Stitched;
    }

    AAA::Stream& stream_;
    const FSAccessLib::FSAccessBase& volume_;
    DirEntry& entry_;
    std::vector<uint8_t>& buffer_;
    uint64_t cluster_;
    JpegScanWalk walk_;
    uint64_t done_ = 0;
    uint64_t lastKept_ = 0;
    bool searching_ = false;
    bool skipped_ = false;
    std::vector<FSAccessLib::DataBlock> runs_;
    ClusterReadWindow window_{stream_, buffer_, kStillReadBytes};
};

} // namespace

StillFragments FollowStillClusters(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
                                   std::vector<uint8_t>& buffer) {
    if (volume.clusterSize == 0 || entry.length == 0)
        return StillFragments::Unchanged;
    return StillTrail(stream, volume, entry, buffer).Run();
}

} // namespace Kalvory
