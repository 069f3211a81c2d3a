// The used-cluster bitmap answers "next free" and "next used" by whole words;
// every answer must equal a cluster-by-cluster scan, across word boundaries.
#include <gtest/gtest.h>

#include <random>

#include "ClusterUsage.h"

namespace {

using FSAccessLib::ClusterUsage;

uint32_t NaiveNext(const ClusterUsage& usage, uint32_t from, uint32_t end, bool used) {
    for (uint32_t c = from; c < std::min(end, usage.Limit()); ++c)
        if (usage.IsUsed(c) == used)
            return c;
    return std::max(from, std::min(end, usage.Limit()));
}

TEST(ClusterUsage, NextFreeAndNextUsedEqualAClusterByClusterScan) {
    std::mt19937 random(7);
    for (uint32_t limit : {3u, 64u, 65u, 130u, 1000u}) {
        for (int density : {0, 1, 50, 99, 100}) {
            ClusterUsage usage(limit);
            for (uint32_t c = 2; c < limit; ++c)
                if (static_cast<int>(random() % 100) < density)
                    usage.MarkUsed(c);
            for (uint32_t from = 0; from < limit + 2; from += 1 + from % 7)
                for (uint32_t end : {from, from + 1, from + 63, from + 64, limit, limit + 9}) {
                    EXPECT_EQ(usage.NextFree(from, end), NaiveNext(usage, from, end, false))
                        << limit << " " << density << " " << from << " " << end;
                    EXPECT_EQ(usage.NextUsed(from, end), NaiveNext(usage, from, end, true))
                        << limit << " " << density << " " << from << " " << end;
                }
            EXPECT_TRUE(usage.IsUsed(0) && usage.IsUsed(1) && usage.IsUsed(limit)) << "reserved and beyond are used";
        }
    }
}

} // namespace
