// ISO media clips written in fragments, put together from their sample
// tables wherever the fragments lie, with free clusters or the start of other
// clips between them: as a file of a found folder (its slot gives its length)
// and as the sector search carves it.
#include <gtest/gtest.h>

#include <random>

#include "ISOBMFF_Fragments.h"
#include "SearchTestSupport.h"
#include "SectorSearch.h"
#include "support/IsoMediaSamples.h"
#include "support/TempDir.h"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;
using Kalvory::IsoMediaFragments;

// The clips every layout draws from: made once, by ffmpeg; an HEVC one and a
// QuickTime one with PCM sound among them.
const std::vector<std::string>& Clips() {
    static const std::vector<std::string> clips = [] {
        std::vector<std::string> made;
        TestSupport::TempDir scratch("kalvory-iso-clips");
        const char* brands[] = {"XAVC", "XAVC", "mp41", "qt  "};
        for (int seed = 1; seed <= 4; ++seed)
            if (auto clip = TestSupport::FfmpegClip(scratch.Path(), seed, brands[seed - 1], 30 + 10 * seed,
                                                    seed == 3 ? TestSupport::ClipVideo::Hevc : TestSupport::ClipVideo::H264))
                made.push_back(*clip);
        return made;
    }();
    return clips;
}

constexpr uint64_t kFewestClusters = 8;

struct Layout {
    uint32_t cluster = 0;
    std::vector<std::pair<uint64_t, uint64_t>> fragments; // card offset, length
    bool lastMissing = false;                             // the last fragment never reached the card
};

// The clip in one to three fragments at random clusters, each gap free or
// the start of another clip.
Layout Place(std::mt19937& random, const std::string& clip, const std::string& other, ImageWriter& card,
             uint64_t cardBytes) {
    Layout layout;
    layout.cluster = 512u << (random() % 4);
    const uint64_t clusters = (clip.size() + layout.cluster - 1) / layout.cluster;
    // Fragments of a few clusters at least: one made only of clusters no
    // sample begins in cannot be told from another clip's data beside it.
    std::vector<uint64_t> breaks{0};
    for (size_t n = random() % 3; n > 0; --n)
        breaks.push_back(1 + random() % (clusters - 1));
    std::sort(breaks.begin(), breaks.end());
    breaks.push_back(clusters);
    for (size_t b = 1; b + 1 < breaks.size();)
        if (breaks[b] - breaks[b - 1] < kFewestClusters || breaks[b + 1] - breaks[b] < kFewestClusters)
            breaks.erase(breaks.begin() + static_cast<std::ptrdiff_t>(b));
        else
            ++b;
    layout.lastMissing = breaks.size() > 2 && random() % 5 == 0;
    uint64_t at = layout.cluster * (1 + random() % 16);
    for (size_t f = 0; f + 1 < breaks.size(); ++f) {
        const uint64_t from = breaks[f] * layout.cluster;
        const uint64_t length = std::min<uint64_t>(breaks[f + 1] * layout.cluster, clip.size()) - from;
        const bool missing = layout.lastMissing && f + 2 == breaks.size();
        if (!missing)
            card.Put(at, clip.substr(from, length));
        layout.fragments.push_back({at, length});
        at += breaks[f + 1] * layout.cluster - from;
        const uint64_t gap = layout.cluster * (1 + random() % 24);
        if (random() % 2 == 0)
            card.Put(at, other.substr(0, std::min<uint64_t>(gap, other.size())));
        at += gap;
    }
    EXPECT_LT(at, cardBytes);
    return layout;
}

std::string Kept(const std::string& card, const DirEntry& entry) {
    std::string kept;
    for (const AAA::ByteRange& range : entry.DataRanges())
        kept += card.substr(range.start, range.length);
    return kept;
}

TEST(IsoMediaFragments, AClipInFragmentsComesBackWholeFromItsSampleTables) {
    if (Clips().size() < 4)
        GTEST_SKIP() << "ffmpeg is needed";
    constexpr uint64_t kCardBytes = 2 << 20;
    for (uint32_t seed = 1; seed <= 100; ++seed) {
        std::mt19937 random(seed);
        const std::string& clip = Clips()[seed % 4];
        const std::string& other = Clips()[(seed + 1) % 4];
        TestSupport::TempDir dir("kalvory-iso-fragments");
        const fs::path image = dir / "card.img";
        ImageWriter writer(image, kCardBytes);
        const Layout layout = Place(random, clip, other, writer, kCardBytes);
        const std::string card = TestSupport::ReadFileBytes(image);
        RawVolume volume(image, 0, 512);
        volume.clusterSize = layout.cluster;
        const size_t fragments = layout.fragments.size();
        const std::string where = "seed " + std::to_string(seed) + ", " + std::to_string(fragments) +
                                  " fragments of " + std::to_string(layout.cluster) + "-byte clusters";
        // As a file of a found folder: its slot gives start and length.
        DirEntry slot("C0001", "MP4");
        slot.start = layout.fragments.front().first;
        slot.length = clip.size();
        const IsoMediaFragments fromSlot =
            Kalvory::StitchIsoMedia(*volume.stream, volume, slot, Kalvory::ClipLength::FromSlot);
        // As the sector search carves it: its length from its own boxes.
        DirEntry root;
        Kalvory::SectorSearcher(volume, root).Run();
        DirEntry* carved = nullptr;
        for (DirEntry& child : root.children)
            if (child.start == slot.start)
                carved = &child;
        ASSERT_NE(carved, nullptr) << where;
        const IsoMediaFragments fromBoxes =
            Kalvory::StitchIsoMedia(*volume.stream, volume, *carved, Kalvory::ClipLength::FromBoxes);
        if (layout.lastMissing) {
            // What is kept of a clip whose end never reached the card is its start.
            for (const auto& [result, entry] : {std::pair{fromSlot, &slot}, std::pair{fromBoxes, carved}}) {
                EXPECT_TRUE(result == IsoMediaFragments::Partial || result == IsoMediaFragments::Unvouched) << where;
                if (result == IsoMediaFragments::Partial) {
                    EXPECT_TRUE(entry->partial && Kept(card, *entry) == clip.substr(0, Kept(card, *entry).size()))
                        << where;
                }
            }
            continue;
        }
        const IsoMediaFragments expected = fragments == 1 ? IsoMediaFragments::Whole : IsoMediaFragments::Stitched;
        EXPECT_EQ(fromSlot, expected) << where;
        EXPECT_EQ(fromBoxes, expected) << where;
        EXPECT_EQ(carved->length, clip.size()) << where;
        EXPECT_TRUE(Kept(card, slot) == clip) << where;
        EXPECT_TRUE(Kept(card, *carved) == clip) << where;
        EXPECT_FALSE(slot.partial || carved->partial) << where;
    }
}

} // namespace
