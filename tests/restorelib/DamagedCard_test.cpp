// Whole recoveries of damaged cards: the damaged part is logged, counted and
// left out (or cut), and every other file comes back whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RestoreJobTestSupport.h"
#include "support/SmallCards.h"

namespace {

using namespace RestoreTest;
using TestSupport::CardDamage;
using TestSupport::CardItem;
using TestSupport::CardSystem;

class DamagedCard : public RestoreJobTest {};

TEST_F(DamagedCard, OneDamagedPartCostsOnlyItself) {
    enum class Damage { ShortImage, FolderPastVolume, FolderCutByImageEnd };
    struct Case {
        const char* what;
        CardSystem system;
        Damage damage;
        int foldersPastEnd;
        int filesPastEnd;
    };
    const Case cases[] = {
        {"FAT16 image ending inside a stream", CardSystem::Fat16, Damage::ShortImage, 0, 1},
        {"exFAT image ending inside a stream", CardSystem::ExFat, Damage::ShortImage, 0, 1},
        {"FAT32 folder past the volume", CardSystem::Fat32, Damage::FolderPastVolume, 1, 0},
        {"FAT16 folder cut by the image end", CardSystem::Fat16, Damage::FolderCutByImageEnd, 1, 0},
    };
    const std::vector<CardItem> intact = {
        {"DCIM/100CDPFP/IMGA0001.JPG", Pattern(7000, 1)},
        {"MISC/NOTE.TXT", Pattern(2000, 2)},
    };
    for (const Case& c : cases) {
        // The folder lies far after the files, but where the image is cut in the stream.
        const uint32_t edgeCluster = c.system == CardSystem::ExFat ? 600u : 3000u;
        std::vector<CardItem> items = intact;
        items.push_back({.path = "EDGE", .folder = true, .clusters = {}});
        if (c.damage != Damage::ShortImage)
            items.back().clusters = {edgeCluster};
        items.push_back({"EDGE/CLIP.MTS", Pattern(20000, 3)});
        CardDamage damage;
        if (c.damage == Damage::FolderPastVolume)
            damage.folderPastVolume = "EDGE";
        if (c.damage == Damage::FolderCutByImageEnd)
            damage.folderAsOneRun = "EDGE";
        const TestSupport::SmallCard card = TestSupport::BuildSmallCard(c.system, items, damage);
        uint64_t end = card.bytes.size();
        if (c.damage == Damage::ShortImage)
            end = card.start.at("EDGE/CLIP.MTS") + 5000;
        if (c.damage == Damage::FolderCutByImageEnd)
            end = card.start.at("EDGE") + 64; // its "." and ".." slots
        const fs::path image = dir / ("card" + std::to_string(&c - cases) + ".img");
        TestSupport::WriteFileBytes(image, card.Cut(end));

        Restore::RestoreMain job(1, Wide(image));
        ASSERT_EQ(job.ResultState(), 0) << c.what << ": " << AAA::ToUtf8(job.ErrorText());
        const fs::path out = Destination() / std::to_string(&c - cases);
        fs::create_directories(out);
        job.SetDestination(Wide(out));
        Completion completion;
        ASSERT_EQ(VerifyNow(job, completion), 0) << c.what << ": " << AAA::ToUtf8(job.ErrorText());
        EXPECT_EQ(job.Strategy()->FoldersPastEnd(), c.foldersPastEnd) << c.what;
        ASSERT_EQ(SaveNow(job, completion), 0) << c.what << ": " << AAA::ToUtf8(job.ErrorText());
        const auto& outcomes = job.Strategy()->SaveOutcomes();
        EXPECT_EQ(std::count_if(outcomes.begin(), outcomes.end(), [](const auto& o) { return o.cutAtImageEnd; }),
                  c.filesPastEnd)
            << c.what;
        const auto saved = FilesUnder(out);
        for (const CardItem& item : intact) {
            ASSERT_TRUE(saved.count(item.path)) << c.what << ": " << item.path;
            EXPECT_EQ(saved.at(item.path), item.data) << c.what << ": " << item.path;
        }
    }
}

} // namespace
