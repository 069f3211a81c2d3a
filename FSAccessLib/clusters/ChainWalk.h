#pragma once
// The one walk along an allocation chain, shared by folders, files and the
// exFAT bitmap, with the one loop guard: the first cluster met twice.
#include <cstdint>
#include <vector>

#include "ClusterRuns.h"
#include "DirEntry.h"

namespace FSAccessLib {

// Why a walk stopped: the chain's end mark, a value that is no cluster of
// the table (free, reserved, bad, past the table or the heap), or a loop.
enum class ChainEnd { EndMark, NoCluster, Loop };

// Adjacent clusters of a chain, first and last included.
struct ClusterRun {
    uint32_t first = 0;
    uint32_t last = 0;
};

struct ChainWalk {
    std::vector<ClusterRun> runs; // in chain order
    ChainEnd end = ChainEnd::NoCluster;
    // The last run's successor is the cluster limit itself (c + 1 = next = limit).
    bool lastRunMeetsLimit = false;
};

// Every cluster of the chain from `first`, in order, until it ends.
ChainWalk WalkClusterChain(const ChainView& view, uint32_t first);

// The FAT readers leave out a last run whose successor is the cluster limit
// itself, and shorten the file's share by it; exFAT keeps it.
enum class RunMeetingLimit { LeftOut, Kept };

// A file's chain as extents: the walk from entry.firstCluster, whole runs up
// to the entry's length (`keepWithoutLength` for entries without one), fitted
// to that length (FitExtentsTo) and marked broken unless it ends on an end mark.
void BuildFileChain(const FSAccessBase& reader, const ChainView& view, DirEntry& entry, uint64_t keepWithoutLength,
                    RunMeetingLimit lastRun);

} // namespace FSAccessLib
