#include "ChainWalk.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "ExtentFit.h"

namespace FSAccessLib {
namespace {

// The runs met before the current one, by first cluster: chains are mostly
// long runs, so the loop guard costs a lookup among a few ranges per step.
bool MetBefore(const std::map<uint32_t, uint32_t>& closed, const ClusterRun& current, uint32_t cluster) {
    if (current.first <= cluster && cluster <= current.last)
        return true;
    const auto after = closed.upper_bound(cluster);
    return after != closed.begin() && cluster <= std::prev(after)->second;
}

} // namespace

ChainWalk WalkClusterChain(const ChainView& view, uint32_t first) {
    ChainWalk walk;
    const auto isCluster = [&](uint32_t c) { return 2 <= c && c < view.clusterLimit && c < view.entryCount; };
    // A FAT12 table's cluster limit may lie above its end marks: the mark is tested first.
    if (view.isEndOfChain(view.table, first)) {
        walk.end = ChainEnd::EndMark;
        return walk;
    }
    if (!isCluster(first))
        return walk;
    std::map<uint32_t, uint32_t> closed;
    ClusterRun current{first, first};
    for (;;) {
        const uint32_t c = current.last;
        const uint32_t next = view.entryAt(view.table, c);
        if (view.isEndOfChain(view.table, next)) {
            walk.end = ChainEnd::EndMark;
            break;
        }
        if (!isCluster(next)) {
            walk.lastRunMeetsLimit = next == c + 1 && next == view.clusterLimit;
            break;
        }
        if (MetBefore(closed, current, next)) {
            walk.end = ChainEnd::Loop;
            break;
        }
        if (next == c + 1) {
            current.last = next;
            continue;
        }
        closed.emplace(current.first, current.last);
        walk.runs.push_back(current);
        current = {next, next};
    }
    walk.runs.push_back(current);
    return walk;
}

void BuildFileChain(const FSAccessBase& reader, const ChainView& view, DirEntry& entry, uint64_t keepWithoutLength,
                    RunMeetingLimit lastRun) {
    ChainWalk walk = WalkClusterChain(view, entry.firstCluster);
    if (walk.end != ChainEnd::EndMark)
        entry.chainBroken = true;
    uint64_t leftOut = 0;
    if (lastRun == RunMeetingLimit::LeftOut && walk.lastRunMeetsLimit) {
        leftOut = (uint64_t{walk.runs.back().last} - walk.runs.back().first + 1) * reader.clusterSize;
        walk.runs.pop_back();
    }
    const uint64_t keep = entry.length != 0 ? entry.length : keepWithoutLength;
    uint64_t kept = 0;
    for (const ClusterRun& run : walk.runs) {
        if (kept >= keep)
            break;
        const uint64_t bytes = (uint64_t{run.last} - run.first + 1) * reader.clusterSize;
        entry.chain.emplace_back(reader.ClusterToOffset(run.first), bytes, &entry);
        kept += bytes;
    }
    if (entry.chain.empty() || entry.length == 0)
        return;
    FitExtentsTo(entry.chain, entry.length - std::min(entry.length, leftOut), kept);
}

} // namespace FSAccessLib
