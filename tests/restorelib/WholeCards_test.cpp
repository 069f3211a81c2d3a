// Whole cards and their images: the volume is read from the card's MBR
// (extended partitions too) or GPT (its backup when the primary is damaged),
// found by its boot sector when the table names none, or chosen by number.
// Each gives back what the bare volume gives, at the same paths. Hostile
// tables cost nothing, and a card without any volume is scanned as sectors.
#include <gtest/gtest.h>

#include <functional>

#include "AAA_Exceptions.h"
#include "RestoreJobTestSupport.h"
#include "support/MediaSamples.h"
#include "support/PartitionedCard.h"
#include "support/SmallCards.h"

namespace {

using namespace RestoreTest;
using namespace TestSupport;
using Kalvory::VolumeFound;

std::string Volume(CardSystem system) {
    const std::vector<CardItem> items = {
        {"DCIM/100CDPFP/IMGA0001.JPG", Pattern(5000, 1)},
        {"DCIM/100CDPFP/IMGA0002.JPG", Pattern(7000, 2), false, {}, false, true},
        {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", SourcePackets(64)},
    };
    const SmallCard card = BuildSmallCard(system, items);
    return std::string(card.bytes.begin(), card.bytes.end());
}

uint64_t SectorsOf(const std::string& bytes) { return bytes.size() / 512; }

struct CardCase {
    const char* what;
    std::function<std::string()> card;
    CardSystem bare;        // the volume it must give back
    Kalvory::VolumeChoice choice{};
    VolumeFound found;
    uint32_t partition;     // read, when found through the table
    bool problems = false;  // the table's faults are listed
};

std::vector<CardCase> Cases() {
    return {
        {"MBR, FAT16 at sector 8192",
         [] {
             const std::string fat16 = Volume(CardSystem::Fat16);
             return BuildWholeCard(TableKind::Mbr, 8192 + SectorsOf(fat16) + 64, {{8192, fat16, 0x06}});
         },
         CardSystem::Fat16, {}, VolumeFound::Partition, 1},
        {"GPT, exFAT at sector 32768",
         [] {
             const std::string exfat = Volume(CardSystem::ExFat);
             return BuildWholeCard(TableKind::Gpt, 32768 + SectorsOf(exfat) + 64, {{32768, exfat}});
         },
         CardSystem::ExFat, {}, VolumeFound::Partition, 1},
        {"FAT32 at sector 8192 behind a zeroed sector 0",
         [] {
             const std::string fat32 = Volume(CardSystem::Fat32);
             std::string card = BuildWholeCard(TableKind::Mbr, 8192 + SectorsOf(fat32) + 64, {{8192, fat32}});
             card.replace(0, 512, std::string(512, '\0'));
             return card;
         },
         CardSystem::Fat32, {}, VolumeFound::BootSector, 0},
        {"FAT32 at sector 8192 with its table and boot sector zeroed: the backup at +6",
         [] {
             const std::string fat32 = Volume(CardSystem::Fat32);
             std::string card = BuildWholeCard(TableKind::Mbr, 8192 + SectorsOf(fat32) + 64, {{8192, fat32}});
             card.replace(0, 512, std::string(512, '\0'));
             card.replace(8192 * 512, 512, std::string(512, '\0'));
             return card;
         },
         CardSystem::Fat32, {}, VolumeFound::BootSector, 0},
        {"exFAT at sector 8192 with its table and boot sector zeroed: the backup region at +12",
         [] {
             const std::string exfat = Volume(CardSystem::ExFat);
             std::string card = BuildWholeCard(TableKind::Mbr, 8192 + SectorsOf(exfat) + 64, {{8192, exfat, 0x07}});
             card.replace(0, 512, std::string(512, '\0'));
             card.replace(8192 * 512, 512, std::string(512, '\0'));
             return card;
         },
         CardSystem::ExFat, {}, VolumeFound::BootSector, 0},
        {"a logical FAT32 chosen behind a primary FAT16",
         [] {
             const std::string fat16 = Volume(CardSystem::Fat16), fat32 = Volume(CardSystem::Fat32);
             const uint64_t second = 2048 + SectorsOf(fat16) + 64;
             return BuildWholeCard(TableKind::Mbr, second + SectorsOf(fat32) + 64,
                                   {{2048, fat16, 0x06}, {second, fat32, 0x0C, true}});
         },
         CardSystem::Fat32, {5}, VolumeFound::Partition, 5},
        {"GPT whose primary header is damaged",
         [] {
             const std::string exfat = Volume(CardSystem::ExFat);
             std::string card = BuildWholeCard(TableKind::Gpt, 2048 + SectorsOf(exfat) + 64, {{2048, exfat}});
             card[512 + 40] ^= 1; // FirstUsableLBA: the header's CRC no longer matches
             return card;
         },
         CardSystem::ExFat, {}, VolumeFound::Partition, 1, true},
        {"a partition past the end and a chain of logical partitions that loops",
         [] {
             const std::string fat16 = Volume(CardSystem::Fat16);
             const uint64_t sectors = 8192 + SectorsOf(fat16) + 64;
             std::string card = BuildWholeCard(TableKind::Mbr, sectors, {{8192, fat16, 0x06}});
             WriteMbrEntry(card, 0, 1, 0x0C, 0xF0000000u, 100); // starts past the end
             WriteMbrEntry(card, 0, 2, 0x0F, 100, 50);          // extended, its EBR at 100...
             WriteMbrEntry(card, 100, 1, 0x0F, 0, 10);          // ... links to itself
             return card;
         },
         CardSystem::Fat16, {}, VolumeFound::Partition, 1, true},
    };
}

class WholeCards : public RestoreJobTest {
protected:
    std::map<std::string, std::string> Recover(const fs::path& source, const Kalvory::VolumeChoice& choice,
                                               Kalvory::SourceLayout* layout = nullptr) {
        const fs::path out = dir / "out";
        fs::remove_all(out);
        fs::create_directories(out);
        Kalvory::Kalvory_DirAndSector strategy(Wide(source), choice);
        strategy.Verify();
        strategy.SetDestination(Wide(out));
        strategy.Save();
        if (layout)
            *layout = strategy.Layout();
        return FilesUnder(out);
    }
};

TEST_F(WholeCards, GiveBackWhatTheBareVolumeGives) {
    for (const CardCase& c : Cases()) {
        TestSupport::WriteFileBytes(dir / "volume.img", Volume(c.bare));
        TestSupport::WriteFileBytes(dir / "card.img", c.card());
        const auto bare = Recover(dir / "volume.img", {});
        Kalvory::SourceLayout layout;
        const auto whole = Recover(dir / "card.img", c.choice, &layout);
        EXPECT_FALSE(bare.empty()) << c.what;
        EXPECT_TRUE(whole == bare) << c.what << ": " << whole.size() << " files for " << bare.size();
        EXPECT_EQ(layout.found, c.found) << c.what;
        EXPECT_EQ(layout.partition, c.partition) << c.what;
        EXPECT_EQ(!layout.table.problems.empty(), c.problems) << c.what;
    }
}

TEST_F(WholeCards, AMissingPartitionOrACardWithoutVolumesIsToldOrScanned) {
    const std::string fat16 = Volume(CardSystem::Fat16);
    TestSupport::WriteFileBytes(dir / "card.img",
                                BuildWholeCard(TableKind::Mbr, 8192 + SectorsOf(fat16) + 64, {{8192, fat16, 0x06}}));
    try {
        Kalvory::Kalvory_DirAndSector strategy(Wide(dir / "card.img"), {7});
        ADD_FAILURE() << "partition 7 was read";
    } catch (const AAA::UnknownFileSystemException& error) {
        EXPECT_NE(AAA::ToUtf8(error.MessageText()).find("there is no partition 7"), std::string::npos);
    }

    // Noise with a picture in it: refused, or scanned whole when asked.
    std::string noise = Pattern(4 << 20, 9);
    const auto still = TestSupport::ToolMadeJpeg(dir.Path(), 3, true);
    if (!still)
        GTEST_SKIP() << "cjpeg and exiftool are needed for the carved still";
    noise.replace(0x30000, still->size(), *still);
    TestSupport::WriteFileBytes(dir / "noise.img", noise);
    EXPECT_THROW(Kalvory::Kalvory_DirAndSector(Wide(dir / "noise.img")), AAA::UnknownFileSystemException);
    Kalvory::SourceLayout layout;
    const auto files = Recover(dir / "noise.img", {0, Kalvory::RawScan::WholeCard}, &layout);
    EXPECT_EQ(layout.found, VolumeFound::WholeCardRaw);
    ASSERT_EQ(files.count("DCIM/100CDPFP/IMGA0001.JPG"), 1u);
    EXPECT_TRUE(files.at("DCIM/100CDPFP/IMGA0001.JPG") == *still);
}

} // namespace
