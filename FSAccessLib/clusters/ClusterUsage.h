#pragma once
// Which clusters live files own, one bit per cluster, and the data of deleted
// files read around them. A deleted file keeps no chain; where its contiguous
// run crosses clusters the table gives to live files, those clusters are
// certainly someone else's, so its data is taken from the free ones only.
#include <cstdint>
#include <vector>

#include "DirEntry.h"
#include "FSAccessBase.h"

namespace FSAccessLib {

class ClusterUsage {
public:
    ClusterUsage() = default;
    // Clusters 0 and 1 and everything at or above `limit` count as used.
    explicit ClusterUsage(uint32_t limit);

    bool Known() const { return limit_ > 2; }
    uint32_t Limit() const { return limit_; }
    void MarkUsed(uint32_t cluster);
    bool IsUsed(uint32_t cluster) const;
    // The first cluster in [from, end) with the given state; `end` when none.
    uint32_t NextFree(uint32_t from, uint32_t end) const { return Next(from, end, false); }
    uint32_t NextUsed(uint32_t from, uint32_t end) const { return Next(from, end, true); }

private:
    uint32_t Next(uint32_t from, uint32_t end, bool used) const;

    uint32_t limit_ = 0;
    std::vector<uint64_t> words_;
};

// When `entry`'s data as it stands (its chain, or `length` bytes from `start`)
// crosses used clusters, replaces it by the runs of free clusters from its
// first cluster on, up to `length`, and returns true. Left as it is when the
// data is free, when its first cluster is used (the start was overwritten, so
// nothing tells where the rest went) or when the free clusters run out.
bool ReadAroundUsedClusters(const FSAccessBase& reader, const ClusterUsage& usage, DirEntry& entry);

} // namespace FSAccessLib
