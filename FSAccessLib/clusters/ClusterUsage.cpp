#include "ClusterUsage.h"

#include <algorithm>
#include <bit>

#include "AAA_DebugLog.h"

namespace FSAccessLib {

ClusterUsage::ClusterUsage(uint32_t limit) : limit_(limit), words_((uint64_t{limit} + 63) / 64, 0) {
    MarkUsed(0);
    if (limit > 1)
        MarkUsed(1);
}

void ClusterUsage::MarkUsed(uint32_t cluster) {
    if (cluster < limit_)
        words_[cluster / 64] |= uint64_t{1} << (cluster % 64);
}

bool ClusterUsage::IsUsed(uint32_t cluster) const {
    return cluster >= limit_ || (words_[cluster / 64] >> (cluster % 64) & 1) != 0;
}

uint32_t ClusterUsage::Next(uint32_t from, uint32_t end, bool used) const {
    end = std::min(end, limit_);
    uint32_t c = from;
    while (c < end) {
        uint64_t word = words_[c / 64];
        if (!used)
            word = ~word;
        word >>= c % 64;
        if (word != 0)
            return std::min<uint32_t>(end, c + static_cast<uint32_t>(std::countr_zero(word)));
        c = (c / 64 + 1) * 64;
    }
    return std::max(from, end);
}

namespace {

// The clusters the entry's data covers now, as [first, last] pairs.
std::vector<std::pair<uint64_t, uint64_t>> CoveredClusters(const FSAccessBase& reader, const DirEntry& entry) {
    std::vector<std::pair<uint64_t, uint64_t>> covered;
    const auto add = [&](uint64_t start, uint64_t length) {
        if (length == 0 || start < reader.startOfDataArea)
            return;
        const uint64_t first = (start - reader.startOfDataArea) / reader.clusterSize + 2;
        const uint64_t last = (start + length - 1 - reader.startOfDataArea) / reader.clusterSize + 2;
        covered.emplace_back(first, last);
    };
    if (entry.chain.empty())
        add(entry.start, entry.length);
    for (const DataBlock& block : entry.chain)
        add(block.start, block.length);
    return covered;
}

bool CrossesUsed(const ClusterUsage& usage, const std::vector<std::pair<uint64_t, uint64_t>>& covered) {
    for (const auto& [first, last] : covered) {
        if (last >= usage.Limit())
            return true;
        if (usage.NextUsed(static_cast<uint32_t>(first), static_cast<uint32_t>(last + 1)) <= last)
            return true;
    }
    return false;
}

} // namespace

bool ReadAroundUsedClusters(const FSAccessBase& reader, const ClusterUsage& usage, DirEntry& entry) {
    const uint32_t first = entry.firstCluster;
    if (!usage.Known() || entry.length == 0 || reader.clusterSize == 0 || usage.IsUsed(first))
        return false;
    if (!CrossesUsed(usage, CoveredClusters(reader, entry)))
        return false;
    std::vector<DataBlock> runs;
    uint64_t remaining = entry.length;
    for (uint32_t c = first; remaining > 0;) {
        c = usage.NextFree(c, usage.Limit());
        if (c >= usage.Limit()) {
            AAA::DebugLog(7, "\tdeleted %s: too few free clusters after its first; read as one run\n", entry.name);
            return false;
        }
        const uint32_t end = usage.NextUsed(c, usage.Limit());
        const uint64_t take = std::min<uint64_t>(remaining, uint64_t{end - c} * reader.clusterSize);
        runs.emplace_back(reader.ClusterToOffset(c), take, &entry);
        remaining -= take;
        c = end;
    }
    AAA::DebugLog(7, "\tdeleted %s: its run crosses live files' clusters; read from %d free runs\n", entry.name,
                  static_cast<int>(runs.size()));
    entry.chain = std::move(runs);
    return true;
}

} // namespace FSAccessLib
