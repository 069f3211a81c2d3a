// The one chain walk against a cluster-by-cluster walk with a visited set, on
// random tables full of loops, cross links, free and out-of-range values.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "ChainWalk.h"

namespace {

using namespace FSAccessLib;

constexpr uint32_t kEnd = 0xFFFFFFFF;

struct Table {
    std::vector<uint32_t> entries;
    uint32_t limit;
    ChainView View() const {
        return {this, [](const void* t, uint32_t c) { return static_cast<const Table*>(t)->entries[c]; },
                [](const void*, uint32_t value) { return value == kEnd; }, entries.size(), limit};
    }
};

// Clusters in chain order, and why the walk stopped, one step at a time.
std::vector<uint32_t> NaiveWalk(const Table& table, uint32_t first, ChainEnd& end) {
    std::vector<uint32_t> clusters;
    std::set<uint32_t> seen;
    const auto isCluster = [&](uint32_t c) { return 2 <= c && c < table.limit && c < table.entries.size(); };
    end = ChainEnd::NoCluster;
    for (uint32_t c = first; c != kEnd;) {
        if (!isCluster(c))
            return clusters;
        if (!seen.insert(c).second) {
            end = ChainEnd::Loop;
            return clusters;
        }
        clusters.push_back(c);
        c = table.entries[c];
    }
    end = ChainEnd::EndMark;
    return clusters;
}

TEST(ChainWalk, RunsHoldEveryClusterOfTheChainOnceAndStopWhereItStops) {
    std::mt19937 random(21);
    for (int round = 0; round < 400; ++round) {
        Table table{std::vector<uint32_t>(2 + random() % 60), 0};
        table.limit = static_cast<uint32_t>(table.entries.size() - random() % 4);
        for (uint32_t c = 0; c < table.entries.size(); ++c) {
            const uint32_t kind = random() % 10;
            table.entries[c] = kind < 5   ? c + 1                                              // runs
                               : kind < 8 ? static_cast<uint32_t>(random() % (table.entries.size() + 3)) // jumps, loops
                               : kind < 9 ? kEnd
                                          : 0;
        }
        const auto first = static_cast<uint32_t>(random() % (table.entries.size() + 2));
        ChainEnd expectedEnd{};
        const std::vector<uint32_t> expected = NaiveWalk(table, first, expectedEnd);

        const ChainWalk walk = WalkClusterChain(table.View(), first);
        std::vector<uint32_t> walked;
        for (size_t i = 0; i < walk.runs.size(); ++i) {
            const ClusterRun& run = walk.runs[i];
            ASSERT_LE(run.first, run.last);
            if (i > 0) {
                ASSERT_NE(walk.runs[i - 1].last + 1, run.first) << "adjacent runs are one run";
            }
            for (uint32_t c = run.first; c <= run.last; ++c)
                walked.push_back(c);
        }
        ASSERT_EQ(walked, expected) << "round " << round;
        ASSERT_EQ(walk.end, expectedEnd) << "round " << round;
        const bool meets = !expected.empty() && expectedEnd == ChainEnd::NoCluster &&
                           table.entries[expected.back()] == expected.back() + 1 &&
                           expected.back() + 1 == table.limit;
        ASSERT_EQ(walk.lastRunMeetsLimit, meets) << "round " << round;
    }
}

} // namespace
