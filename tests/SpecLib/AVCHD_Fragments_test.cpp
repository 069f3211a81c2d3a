// A stream taken as one run from its first cluster: its packets' arrival
// times tell whether the run is its own, where a fragment ends and which
// cluster continues it.
#include <gtest/gtest.h>

#include "AVCHD_Fragments.h"
#include "SearchTestSupport.h"
#include "support/TempDir.h"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;
using Kalvory::StreamFragments;

constexpr uint64_t kCluster = 4096;

struct FragmentCase {
    const char* what;
    std::vector<uint64_t> fragments; // cluster numbers of the stream's pieces, one cluster each
    uint64_t clusters;               // the stream's length in clusters
    StreamFragments result;
    uint64_t kept;                   // bytes of the stream the chain ends up with
};

TEST(StitchStreamFragments, FollowsTheArrivalTimesAcrossForeignClusters) {
    const std::string stream = SourcePackets(6 * kCluster / 192 + 1); // six clusters and a bit
    const FragmentCase cases[] = {
        {"contiguous", {10, 11, 12, 13, 14, 15}, 6, StreamFragments::Whole, 6 * kCluster},
        {"two fragments, two foreign clusters between", {10, 11, 12, 15, 16, 17}, 6, StreamFragments::Stitched,
         6 * kCluster},
        {"three fragments", {10, 11, 13, 14, 20, 21}, 6, StreamFragments::Stitched, 6 * kCluster},
        {"the rest is nowhere", {10, 11, 12}, 6, StreamFragments::Partial, 3 * kCluster},
    };
    for (const FragmentCase& c : cases) {
        TestSupport::TempDir dir("kalvory-fragments");
        const fs::path image = dir / "card.img";
        ImageWriter card(image, 64 * kCluster);
        for (uint64_t cl = 0; cl < 64; ++cl) // foreign clusters: another recording, times far apart
            card.Put(cl * kCluster, SourcePackets(kCluster / 192 + 1, 900000000 + uint32_t(cl) * 40000000).substr(0, kCluster));
        for (size_t i = 0; i < c.fragments.size(); ++i)
            card.Put(c.fragments[i] * kCluster, stream.substr(i * kCluster, kCluster));
        RawVolume volume(image, 0, 512);
        volume.clusterSize = kCluster;
        DirEntry entry("00000", "MTS");
        entry.start = c.fragments.front() * kCluster;
        entry.length = c.clusters * kCluster;
        std::vector<uint8_t> buffer;
        EXPECT_EQ(Kalvory::StitchStreamFragments(*volume.stream, volume, entry, buffer), c.result) << c.what;
        std::string kept;
        for (const FSAccessLib::DataBlock& block : entry.chain)
            kept += TestSupport::ReadFileBytes(image).substr(block.start, block.length);
        if (c.result == StreamFragments::Whole) {
            EXPECT_TRUE(entry.chain.empty()) << c.what;
            continue;
        }
        EXPECT_EQ(entry.partial, c.result == StreamFragments::Partial) << c.what;
        EXPECT_TRUE(kept == stream.substr(0, c.kept)) << c.what << ": " << kept.size() << " bytes kept";
    }
}

TEST(StitchStreamFragments, AStartFewPacketsVouchForIsLeftAlone) {
    TestSupport::TempDir dir("kalvory-fragments");
    const fs::path image = dir / "card.img";
    ImageWriter card(image, 16 * kCluster);
    card.Put(kCluster, SourcePackets(31)); // less than one aligned unit, then zeros
    RawVolume volume(image, 0, 512);
    volume.clusterSize = kCluster;
    DirEntry entry("00000", "MTS");
    entry.start = kCluster;
    entry.length = 4 * kCluster;
    std::vector<uint8_t> buffer;
    EXPECT_EQ(Kalvory::StitchStreamFragments(*volume.stream, volume, entry, buffer), StreamFragments::Unvouched);
    EXPECT_TRUE(entry.chain.empty());
    EXPECT_FALSE(entry.partial);
}

} // namespace
