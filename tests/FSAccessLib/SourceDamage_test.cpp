// One damaged part costs only itself: folders past the end of the volume or
// the image, images that end early, and full FAT folders, on every reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "FSAccessLib/fat/FAT1216FAT32TestHelpers.h"
#include "FSSpecExFAT.h"
#include "FSSpecFAT16.h"
#include "FSSpecFAT32.h"
#include "TreeTestHelpers.h"
#include "support/SmallCards.h"

namespace {

using namespace FatReaderTest;
using FSAccessLib::DirEntry;
using FSAccessLib::FSAccessBase;
using TestSupport::BuildSmallCard;
using TestSupport::CardDamage;
using TestSupport::CardItem;
using TestSupport::CardSystem;
using TestSupport::SmallCard;

std::unique_ptr<FSAccessBase> ReaderFor(CardSystem system, const std::filesystem::path& image) {
    const AAA::WString path = PathOf(image);
    if (system == CardSystem::ExFat)
        return std::make_unique<FSAccessLib::ExFAT::FSAccessExFAT>(path);
    if (system == CardSystem::Fat32)
        return std::make_unique<FSAccessLib::FAT32::FSAccessFAT32>(path);
    return std::make_unique<FSAccessLib::FAT1216::FSAccessFAT1216>(path);
}

class SourceDamage : public ::testing::Test {
protected:
    // Reads the image through the directories; every step must get through.
    std::map<std::string, const DirEntry*> Read(CardSystem system, const std::string& image) {
        const auto file = dir_ / ("card" + std::to_string(++images_) + ".img");
        TestSupport::WriteFileBytes(file, image);
        reader_ = ReaderFor(system, file);
        root_ = DirEntry();
        EXPECT_TRUE(reader_->Open());
        reader_->ReadAllocationTable();
        reader_->ReadRootDirectory();
        reader_->BuildTree(root_);
        return Flatten(root_);
    }
    // The bytes the entry's extents hold on the whole card.
    static std::string DataOn(const SmallCard& card, const DirEntry& entry) {
        const Bytes bytes = DataOf(card.bytes, entry);
        return std::string(bytes.begin(), bytes.end());
    }

    TestSupport::TempDir dir_{"source-damage"};
    FSAccessTest::ProgressReset progressReset_;
    std::unique_ptr<FSAccessBase> reader_;
    DirEntry root_;
    int images_ = 0;
};

std::string Text(size_t size, uint32_t seed) {
    const Bytes bytes = Pattern(size, seed);
    return std::string(bytes.begin(), bytes.end());
}

// A folder whose first cluster lies past the volume, or whose one-run read
// runs past the end of the image, is left out (or read up to the end); the
// rest of the card comes back.
TEST_F(SourceDamage, FolderPastTheEndCostsOnlyItself) {
    enum class Place { PastVolume, FarPastVolume, CutByImageEnd };
    struct Case {
        CardSystem system;
        Place place;
    };
    const Case cases[] = {
        {CardSystem::Fat16, Place::PastVolume},    {CardSystem::Fat32, Place::PastVolume},
        {CardSystem::ExFat, Place::PastVolume},    {CardSystem::Fat16, Place::FarPastVolume},
        {CardSystem::Fat32, Place::FarPastVolume}, {CardSystem::ExFat, Place::FarPastVolume},
        {CardSystem::Fat16, Place::CutByImageEnd}, {CardSystem::Fat32, Place::CutByImageEnd},
        {CardSystem::ExFat, Place::CutByImageEnd},
    };
    for (const Case& c : cases) {
        const char* const places[] = {" at the volume's end", " far past the volume", " cut by the image end"};
        const std::string what =
            std::string(TestSupport::CardSystemName(c.system)) + places[static_cast<int>(c.place)];
        const uint32_t edgeCluster = c.system == CardSystem::ExFat ? 600 : 3000;
        const std::vector<CardItem> items = {
            {"A.TXT", Text(3000, 1)},
            {"DCIM/B.JPG", Text(5000, 2)},
            {.path = "EDGE", .folder = true, .clusters = {edgeCluster}},
            {"EDGE/X.BIN", Text(100, 3)},
        };
        const bool pastVolume = c.place != Place::CutByImageEnd;
        CardDamage damage;
        (pastVolume ? damage.folderPastVolume : damage.folderAsOneRun) = "EDGE";
        damage.clustersPast = c.place == Place::FarPastVolume ? 1000 : 0;
        const SmallCard card = BuildSmallCard(c.system, items, damage);
        const uint64_t end = pastVolume ? card.bytes.size() : card.start.at("EDGE") + 96;

        const auto tree = Read(c.system, card.Cut(end));
        EXPECT_EQ(reader_->foldersPastEnd, 1) << what;
        for (const CardItem& item : {items[0], items[1]}) {
            ASSERT_TRUE(tree.count(item.path)) << what << ": " << item.path;
            EXPECT_EQ(DataOn(card, *tree.at(item.path)), item.data) << what << ": " << item.path;
        }
        EXPECT_EQ(tree.count("EDGE/X.BIN"), pastVolume ? 0u : 1u) << what;
    }
}

// An image that ends early is read as far as it goes: every file is listed
// with the length its card gives (the save cuts or skips what crosses the end).
TEST_F(SourceDamage, ShortImageGivesBackWhatItHolds) {
    struct Case {
        CardSystem system;
        bool noFatChain;
    };
    const Case cases[] = {{CardSystem::Fat12, false}, {CardSystem::Fat16, false}, {CardSystem::Fat32, false},
                          {CardSystem::ExFat, false}, {CardSystem::ExFat, true}};
    for (const Case& c : cases) {
        const std::string what = std::string(TestSupport::CardSystemName(c.system)) + (c.noFatChain ? " NoFatChain" : "");
        const std::vector<CardItem> items = {
            {.path = "WHOLE.JPG", .data = Text(3000, 4), .noFatChain = c.noFatChain},
            {.path = "DCIM/CROSS.MTS", .data = Text(24576, 5), .noFatChain = c.noFatChain},
            {.path = "BEYOND.MTS", .data = Text(5000, 6), .noFatChain = c.noFatChain},
        };
        const SmallCard card = BuildSmallCard(c.system, items);
        const uint64_t kept = 10000;
        ASSERT_LT(card.start.at("BEYOND.MTS"), card.bytes.size()) << what;
        ASSERT_GT(card.start.at("BEYOND.MTS"), card.start.at("DCIM/CROSS.MTS")) << what;

        const auto tree = Read(c.system, card.Cut(card.start.at("DCIM/CROSS.MTS") + kept));
        ASSERT_EQ(tree.size(), 4u) << what;
        const DirEntry& whole = *tree.at("WHOLE.JPG");
        EXPECT_FALSE(whole.partial) << what;
        EXPECT_EQ(DataOn(card, whole), items[0].data) << what;
        EXPECT_EQ(tree.at("DCIM/CROSS.MTS")->length, items[1].data.size()) << what;
        EXPECT_EQ(tree.at("BEYOND.MTS")->length, items[2].data.size()) << what;
    }
}

// A full FAT folder keeps its slots as their disk bytes: about 2 MiB, where
// one record per slot cost kilobytes each.
TEST_F(SourceDamage, FullFatFolderCostsAboutItsDiskSize) {
    constexpr uint32_t kSlots = 65534;
    Bytes bytes;
    for (uint32_t i = 0; i < kSlots; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "F%07uTXT", i);
        const Bytes slot = Slot(name, 0x20, 2 + i, 100);
        bytes.insert(bytes.end(), slot.begin(), slot.end());
    }
    Fill(bytes, 32); // the end mark
    const auto check = [&](auto& directory, const char* what) {
        AAA::MemoryStream stream(bytes);
        FSAccessLib::FatCommon::ReadDirectoryAt(stream, 0, directory);
        ASSERT_EQ(directory.entries.Count(), kSlots) << what;
        EXPECT_EQ(directory.entries.At(kSlots - 1).Name.ToString(), "F0065533") << what;
        EXPECT_EQ(directory.entries.At(7).FileLength.Value(), 100u) << what;
        EXPECT_LE(directory.entries.MemoryBytes(), 2 * bytes.size()) << what;
    };
    FSAccessLib::FAT1216::Directory1216 fat16;
    check(fat16, "FAT12/16");
    FSAccessLib::FAT32::Directory32 fat32;
    check(fat32, "FAT32");
}

} // namespace
