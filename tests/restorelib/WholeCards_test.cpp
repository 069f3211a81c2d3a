// Whole cards and their images: the volume is read from the card's MBR
// (extended partitions too) or GPT (its backup when the primary is damaged),
// found by its boot sector when the table names none, or chosen by number.
// Each gives back what the bare volume gives, at the same paths. Hostile
// tables cost nothing, and a card without any volume is scanned as sectors;
// the scanning modes read the card's bytes outside the volume too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>

#include "AAA_Exceptions.h"
#include "Kalvory_CardScan.h"
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

constexpr uint64_t kSearchChunk = 0x100000;

struct SavedPlacement {
    uint64_t cardOffset;
    std::string bytes;
};

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
    // Verified and saved in "out" by the mode of `type`.
    std::unique_ptr<Kalvory::KalvoryBase> Recover(Restore::StrategyType type, const fs::path& source) {
        const fs::path out = dir / "out";
        fs::remove_all(out);
        fs::create_directories(out);
        auto strategy = Kalvory::MakeStrategy(type, Wide(source));
        strategy->Verify();
        strategy->SetDestination(Wide(out));
        strategy->Save();
        return strategy;
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

// Media left before the partition (between the table and the volume), one
// stream starting in the volume's last free sectors and running on past its
// end, and media after the volume: the scanning modes give them all back whole,
// with their card offsets, the directory search none of them; the volume's
// own files come back as from the bare volume.
TEST_F(WholeCards, TheScanningModesReadTheCardOutsideTheVolume) {
    const std::string fat16 = Volume(CardSystem::Fat16);
    TestSupport::WriteFileBytes(dir / "volume.img", fat16);
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        std::mt19937 random(seed);
        const uint64_t volumeSector = 2048 * (3 + random() % 3);
        const uint64_t volumeEnd = volumeSector + SectorsOf(fat16);
        const uint64_t cardSectors = volumeEnd + 6144 + random() % 512;
        std::string card = BuildWholeCard(TableKind::Mbr, cardSectors, {{volumeSector, fat16, 0x06}});
        // Streams of whole 6,144-byte units, as a camcorder writes them.
        const auto stream = [&](uint32_t streamSeed) { return StreamBytes(0x120000 + 6144 * (random() % 64), streamSeed); };
        const std::string still = ExifJpeg(20000 + random() % 20000, seed);
        const std::string first = stream(seed), across = stream(seed + 10);
        // A still and a stream on either side of the volume, which where by the seed.
        const bool stillFirst = seed % 2 == 1;
        const std::string& before = stillFirst ? still : first;
        const std::string& after = stillFirst ? first : still;
        std::vector<SavedPlacement> placed;
        const auto put = [&](uint64_t sector, const std::string& bytes) {
            card.replace(sector * 512, bytes.size(), bytes);
            placed.push_back({sector * 512, bytes});
        };
        put(64 + random() % (volumeSector - 64 - SectorsOf(before) - 1), before);
        const uint64_t acrossSector = volumeEnd - 8 - random() % 32;
        put(acrossSector, across);
        const uint64_t afterFrom = acrossSector + SectorsOf(across) + 1;
        put(afterFrom + random() % (cardSectors - afterFrom - SectorsOf(after) - 64), after);
        TestSupport::WriteFileBytes(dir / "card.img", card);
        for (const auto type : {Restore::StrategyType::Directory, Restore::StrategyType::DirAndSector,
                                Restore::StrategyType::Sector}) {
            const bool scans = type != Restore::StrategyType::Directory;
            const std::string what = "seed " + std::to_string(seed) + ", mode " + std::to_string(static_cast<int>(type));
            (void)Recover(type, dir / "volume.img");
            const auto bare = FilesUnder(dir / "out");
            const auto strategy = Recover(type, dir / "card.img");
            std::map<std::string, int> found;
            for (const auto& [path, bytes] : FilesUnder(dir / "out"))
                ++found[bytes];
            for (const auto& [path, bytes] : bare)
                EXPECT_GE(found[bytes], 1) << what << ": " << path;
            EXPECT_EQ(strategy->Layout().gapsScanned.empty(), !scans) << what;
            // Each comes back whole from the card offset it was put at; its
            // volume offset is negative before the volume.
            const Kalvory::CardPlace place = Kalvory::PlaceOf(strategy->Reader());
            for (const SavedPlacement& expected : placed) {
                EXPECT_EQ(found[expected.bytes], scans ? 1 : 0) << what << ": at " << expected.cardOffset;
                int atCardOffset = 0;
                for (const FSAccessLib::SavedEntry& saved : strategy->SaveOutcomes()) {
                    const std::vector<AAA::ByteRange> ranges = saved.entry->DataRanges();
                    if (ranges.empty() || saved.entry->length != expected.bytes.size() ||
                        place.CardOffset(ranges.front().start) != expected.cardOffset)
                        continue;
                    ++atCardOffset;
                    EXPECT_EQ(place.VolumeOffset(ranges.front().start),
                              static_cast<int64_t>(expected.cardOffset) - static_cast<int64_t>(volumeSector * 512))
                        << what;
                }
                EXPECT_EQ(atCardOffset, scans ? 1 : 0) << what << ": at " << expected.cardOffset;
            }
        }
    }
}

// The card's reads as the job counts them: the positions of the scan
// before the volume are card offsets, and a cancel during the scan after the
// volume ends the verification there. The worker records, the test reads
// after joining it.
std::vector<uint64_t> positionsSeen;
std::atomic<uint64_t> cancelFrom{UINT64_MAX};
void WatchCardPositions(Restore::JobProgress& job) {
    const uint64_t at = Restore::ProgressPosition.load();
    positionsSeen.push_back(at);
    if (at >= cancelFrom.load())
        job.cancel.store(1);
}

TEST_F(WholeCards, TheScanOutsideTheVolumeCountsAndStops) {
    const std::string fat16 = Volume(CardSystem::Fat16);
    const uint64_t volumeEnd = 8192 + SectorsOf(fat16), cardSectors = volumeEnd + 8192;
    TestSupport::WriteFileBytes(dir / "card.img", BuildWholeCard(TableKind::Mbr, cardSectors, {{8192, fat16, 0x06}}));
    Restore::RestoreMain job(1, Wide(dir / "card.img"));
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
    positionsSeen.clear();
    Restore::ProgressPosition = 0; // the last test's
    cancelFrom = volumeEnd * 512 + kSearchChunk; // the scan's second chunk after the volume
    job.progress.checkpoint = &WatchCardPositions;
    Completion completion;
    EXPECT_EQ(VerifyNow(job, completion), 2);
    // The chunks before the volume, at their card offsets.
    for (const uint64_t chunk : {kSearchChunk, 2 * kSearchChunk, 3 * kSearchChunk})
        EXPECT_EQ(std::count(positionsSeen.begin(), positionsSeen.end(), chunk), 1) << chunk;
    EXPECT_GE(Restore::ProgressPosition.load(), cancelFrom.load());
    EXPECT_LT(Restore::ProgressPosition.load(), cardSectors * 512 - kSearchChunk) << "the scan went on after the cancel";
    EXPECT_LT(job.ProgressPercent(), 90);
}

} // namespace
