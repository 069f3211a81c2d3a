// A deleted stream read from the free clusters after its first: of the
// clusters its chain names, and of those after, it keeps the ones whose
// packets continue its arrival times.
#include <gtest/gtest.h>

#include "AVCHD_ClusterTrail.h"
#include "SearchTestSupport.h"
#include "support/MediaSamples.h"
#include "support/TempDir.h"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;
using Kalvory::StreamFragments;

constexpr uint64_t kCluster = 4096;

struct TrailCase {
    const char* what;
    std::vector<uint64_t> own;   // where the stream's clusters lie, in order (0: lost)
    std::vector<uint64_t> chain; // the clusters the free-cluster rule gave it
    StreamFragments result;
    uint64_t kept; // clusters of the stream its chain ends up with
};

TEST(FollowStreamClusters, KeepsTheClustersThatContinueItsTimes) {
    const std::string stream = TestSupport::StreamBytes(5 * kCluster, 1);
    const TrailCase cases[] = {
        {"its own clusters, in a row", {10, 11, 12, 13, 14}, {10, 11, 12, 13, 14}, StreamFragments::Whole, 5},
        {"another stream's clusters between", {10, 12, 14, 16, 18}, {10, 11, 12, 13, 14}, StreamFragments::Stitched, 5},
        {"a still's clusters between", {10, 11, 20, 21, 22}, {10, 11, 12, 13, 14}, StreamFragments::Stitched, 5},
        {"a cluster lost", {10, 11, 0, 13, 14}, {10, 11, 12, 13, 14}, StreamFragments::Partial, 2},
        {"its first cluster another's", {11, 12, 13, 14, 15}, {10, 11, 12, 13, 14}, StreamFragments::Unvouched, 0},
    };
    for (const TrailCase& c : cases) {
        TestSupport::TempDir dir("kalvory-trail");
        const fs::path image = dir / "card.img";
        ImageWriter card(image, 40 * kCluster);
        for (uint64_t cl = 0; cl < 40; ++cl) // odd clusters: another recording; even: a picture
            card.Put(cl * kCluster, cl % 2 ? TestSupport::StreamBytes(kCluster, 50 + cl)
                                           : TestSupport::ExifJpeg(kCluster, static_cast<uint32_t>(cl)));
        for (size_t i = 0; i < c.own.size(); ++i)
            if (c.own[i] != 0)
                card.Put(c.own[i] * kCluster, stream.substr(i * kCluster, kCluster));
        RawVolume volume(image, 0, 512);
        volume.clusterSize = kCluster;
        DirEntry entry("00000", "MTS");
        entry.start = c.chain.front() * kCluster;
        entry.length = stream.size();
        for (const uint64_t cl : c.chain)
            entry.chain.emplace_back(cl * kCluster, kCluster, &entry);
        std::vector<uint8_t> buffer;
        EXPECT_EQ(Kalvory::FollowStreamClusters(*volume.stream, volume, entry, buffer), c.result) << c.what;
        std::string kept;
        for (const FSAccessLib::DataBlock& block : entry.chain)
            kept += TestSupport::ReadFileBytes(image).substr(block.start, block.length);
        if (c.result == StreamFragments::Unvouched || c.result == StreamFragments::Whole) {
            EXPECT_EQ(entry.chain.size(), c.chain.size()) << c.what << ": left as it was";
            continue;
        }
        EXPECT_EQ(entry.partial, c.result == StreamFragments::Partial) << c.what;
        EXPECT_TRUE(kept == stream.substr(0, c.kept * kCluster)) << c.what << ": " << kept.size() << " bytes kept";
    }
}

} // namespace
