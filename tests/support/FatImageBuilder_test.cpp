// The FAT image builder: boot regions the readers accept and the layout of what
// it is asked for.
#include "support/FatBuilderTestTools.h"
#include "support/TempDir.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {
namespace {

using namespace FatBuilderTest;

// ---------------------------------------------------------------------------
// Default geometry: what the FAT readers check in the boot region.

class FatDefaultVolume : public ::testing::TestWithParam<FatType> {};

TEST_P(FatDefaultVolume, BootRegionPassesTheReaderChecks) {
    const FatType type = GetParam();
    const FatImage image = FatImageBuilder(FatVolumeOptions::Defaults(type)).Build();
    const FatLayout& l = image.Layout();

    EXPECT_EQ(Le(image, 11, 2), 512u);
    EXPECT_EQ(image.Bytes()[16], 2);
    EXPECT_EQ(image.Bytes()[510], 0x55);
    EXPECT_EQ(image.Bytes()[511], 0xAA);
    EXPECT_LE(image.Bytes().size(), 64u << 20);

    const std::uint64_t clusters = (image.Bytes().size() - l.dataOffset) / l.clusterSize;
    EXPECT_EQ(clusters, l.clusterCount);
    const std::uint32_t spc = image.Bytes()[13];
    if (type == FatType::Fat32) {
        for (auto [offset, width] : {std::pair{17, 2}, {19, 2}, {22, 2}, {42, 2}})
            EXPECT_EQ(Le(image, offset, width), 0u) << "field at " << offset;
        EXPECT_EQ(Le(image, 48, 2), 1u);
        EXPECT_EQ(Le(image, 50, 2), 6u);
        EXPECT_EQ(image.Bytes()[66], 0x29);
        EXPECT_EQ(Text(image, 82, 8), "FAT32   ");
        const std::uint32_t total = Le(image, 32, 4);
        EXPECT_GE(total, 2u);
        EXPECT_LE(total, 0x0FFFFFF6u * spc);
        EXPECT_GE(clusters, 65525u);
        EXPECT_EQ(l.rootDirOffset, l.dataOffset + (Le(image, 44, 4) - 2) * l.clusterSize);
        EXPECT_EQ(Text(image, 512, 4), "RRaA");
        EXPECT_EQ(Text(image, 512 + 484, 4), "rrAa");
        EXPECT_EQ(Le(image, 512 + 508, 4), 0xAA550000u);
        EXPECT_EQ(Le(image, 512 + 488, 4), l.clusterCount - 1) << "all free but the root cluster";
        EXPECT_EQ(Text(image, 6 * 512, 512), Text(image, 0, 512)) << "backup boot sector";
    } else {
        EXPECT_EQ(Le(image, 17, 2), 512u);
        EXPECT_EQ(image.Bytes()[38], 0x29);
        const std::uint32_t total = Le(image, 19, 2) != 0 ? Le(image, 19, 2) : Le(image, 32, 4);
        EXPECT_EQ(std::uint64_t{total} * 512, image.Bytes().size());
        if (type == FatType::Fat12) {
            EXPECT_EQ(Text(image, 54, 8), "FAT12   ");
            EXPECT_LE(total, 4086u * spc);
            EXPECT_LT(clusters, 4085u);
        } else {
            EXPECT_EQ(Text(image, 54, 8), "FAT16   ");
            EXPECT_LE(total, 65526u * spc);
            EXPECT_GE(clusters, 4086u);
            EXPECT_LT(clusters, 65525u);
        }
    }
    EXPECT_EQ(image.FatEntry(0), (l.EndOfChain() & ~0xFFu) | 0xF8);
    EXPECT_EQ(image.FatEntry(1), l.EndOfChain());
}

TEST_P(FatDefaultVolume, VolumeLabelIsInBootSectorAndFirstRootSlot) {
    FatVolumeOptions options = FatVolumeOptions::Defaults(GetParam());
    options.volumeLabel = "CAMCORDER";
    const FatImage image = FatImageBuilder(options).Build();
    const std::uint64_t labelField = GetParam() == FatType::Fat32 ? 71 : 43;
    EXPECT_EQ(Text(image, labelField, 11), "CAMCORDER  ");
    const auto slot = image.Slot(image.Layout().rootDirOffset);
    EXPECT_EQ(std::string(slot.begin(), slot.begin() + 11), "CAMCORDER  ");
    EXPECT_EQ(slot[11], 0x08);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, FatDefaultVolume,
                         ::testing::Values(FatType::Fat12, FatType::Fat16, FatType::Fat32), TypeName);

// ---------------------------------------------------------------------------
// Layout of entries, checked on the bytes.

TEST(FatImageLayout, FilesGetConsecutiveClustersWithChainsAndData) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
    const auto a = Pattern(5000, 1);
    const auto b = Pattern(3, 2);
    builder.AddFile("A.BIN", a);
    builder.AddFile("B.BIN", b);
    const FatImage image = builder.Build();

    const FatEntryInfo& fa = image.Entry("A.BIN");
    const FatEntryInfo& fb = image.Entry("B.BIN");
    ASSERT_EQ(fa.clusters.size(), 3u);  // 5000 bytes in 2 KiB clusters
    EXPECT_EQ(fa.clusters[1], fa.clusters[0] + 1);
    EXPECT_EQ(fa.clusters[2], fa.clusters[0] + 2);
    EXPECT_EQ(fb.firstCluster, fa.clusters[2] + 1);
    EXPECT_EQ(image.FatEntry(fa.clusters[0]), fa.clusters[1]);
    EXPECT_EQ(image.FatEntry(fa.clusters[1]), fa.clusters[2]);
    EXPECT_EQ(image.FatEntry(fa.clusters[2]), 0xFFFFu);
    EXPECT_EQ(image.FatEntry(fb.firstCluster), 0xFFFFu);
    ASSERT_EQ(fa.extents.size(), 1u);
    EXPECT_EQ(fa.extents[0], (FatExtent{image.Layout().ClusterOffset(fa.firstCluster), 5000}));
    EXPECT_EQ(ReadExtents(image, fa.extents), a);
    EXPECT_EQ(ReadExtents(image, fb.extents), b);

    const auto slot = image.Slot(fa.slotOffset);
    EXPECT_EQ(std::string(slot.begin(), slot.begin() + 11), "A       BIN");
    EXPECT_EQ(slot[11], 0x20);
    EXPECT_EQ(Le(image, fa.slotOffset + 26, 2), fa.firstCluster);
    EXPECT_EQ(Le(image, fa.slotOffset + 28, 4), 5000u);
}

TEST(FatImageLayout, ExplicitClustersMakeAFragmentedChain) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat32));
    const auto data = Pattern(3 * 512 + 10, 3);
    builder.AddFile("FRAG.BIN", data, {.clusters = {40, 41, 90, 60}});
    const FatImage image = builder.Build();
    const FatEntryInfo& f = image.Entry("FRAG.BIN");
    const FatLayout& l = image.Layout();

    EXPECT_EQ(image.FatEntry(40), 41u);
    EXPECT_EQ(image.FatEntry(41), 90u);
    EXPECT_EQ(image.FatEntry(90), 60u);
    EXPECT_EQ(image.FatEntry(60), 0x0FFFFFFFu);
    EXPECT_EQ(image.FatEntry(40, 1), 41u) << "second table copy";
    const std::vector<FatExtent> expected{
        {l.ClusterOffset(40), 1024}, {l.ClusterOffset(90), 512}, {l.ClusterOffset(60), 10}};
    EXPECT_EQ(f.extents, expected);
    EXPECT_EQ(ReadExtents(image, f.extents), data);
    EXPECT_EQ(Le(image, f.slotOffset + 20, 2), 0u);
    EXPECT_EQ(Le(image, f.slotOffset + 26, 2), 40u);
}

TEST(FatImageLayout, Fat12EntriesArePackedTwoInThreeBytes) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat12));
    builder.AddFile("TWO.BIN", Pattern(4096, 4), {.clusters = {10, 11}});
    builder.AddFile("ONE.BIN", Pattern(10, 5), {.clusters = {13}});
    const FatImage image = builder.Build();
    const std::uint64_t table = image.Layout().fatOffset;
    // Entries 10 and 11 share bytes 15..17; 12 and 13 bytes 18..20.
    EXPECT_EQ(Text(image, table + 15, 6), std::string("\x0B\xF0\xFF\x00\xF0\xFF", 6));
    EXPECT_EQ(Text(image, table, 3), std::string("\xF8\xFF\xFF", 3));
}

TEST(FatImageLayout, LongNameGetsAliasAndSlotsBeforeIt) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
    builder.AddFile("clip one.mts", "x");
    builder.AddFile("clip two.mts", "y");
    const FatImage image = builder.Build();
    const FatEntryInfo& one = image.Entry("clip one.mts");
    const FatEntryInfo& two = image.Entry("clip two.mts");
    EXPECT_EQ(one.shortName, "CLIPON~1.MTS");
    EXPECT_EQ(two.shortName, "CLIPTW~1.MTS");
    EXPECT_EQ(one.longNameSlots, 1u);
    const auto lfn = image.Slot(one.slotOffset - 32);
    EXPECT_EQ(lfn[0], 0x41);  // last (and only) slot, ordinal 1
    EXPECT_EQ(lfn[11], 0x0F);
    EXPECT_EQ(lfn[1], 'c');
    EXPECT_EQ(two.slotOffset, one.slotOffset + 64);
}

TEST(FatImageLayout, DeletedFileKeepsDataButFreesItsChain) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
    const auto data = Pattern(6000, 6);
    builder.AddFile("a deleted clip.mts", data);
    builder.AddFile("KEPT.MTS", data);
    builder.DeleteEntry("a deleted clip.mts");
    builder.DeleteEntry("KEPT.MTS", {.freeClusters = false});
    const FatImage image = builder.Build();

    const FatEntryInfo& gone = image.Entries()[1];
    ASSERT_TRUE(gone.deleted);
    EXPECT_EQ(image.Slot(gone.slotOffset)[0], 0xE5);
    ASSERT_EQ(gone.longNameSlots, 2u);
    EXPECT_EQ(image.Slot(gone.slotOffset - 32)[0], 0xE5);
    EXPECT_EQ(image.Slot(gone.slotOffset - 64)[0], 0xE5);
    for (std::uint32_t c : gone.clusters) EXPECT_EQ(image.FatEntry(c), 0u) << "cluster " << c;
    EXPECT_EQ(ReadExtents(image, gone.extents), data);
    EXPECT_EQ(Le(image, gone.slotOffset + 28, 4), 6000u);
    EXPECT_THROW(image.Entry("a deleted clip.mts"), std::invalid_argument);

    const FatEntryInfo& kept = image.Entries()[2];
    EXPECT_EQ(image.Slot(kept.slotOffset)[0], 0xE5);
    EXPECT_EQ(image.FatEntry(kept.clusters[0]), kept.clusters[1]);
}

TEST(FatImageLayout, DeletingAFolderDeletesItsContents) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat12));
    builder.AddFile("OLD/SUB/A.TXT", "aaaa");
    builder.DeleteEntry("OLD");
    builder.AddFile("OLD/A.TXT", "new");  // the name is free again
    const FatImage image = builder.Build();
    for (const char* path : {"OLD", "OLD/SUB", "OLD/SUB/A.TXT"}) {
        const auto it = std::find_if(image.Entries().begin(), image.Entries().end(),
                                     [&](const FatEntryInfo& e) { return e.path == path && e.deleted; });
        ASSERT_NE(it, image.Entries().end()) << path;
        EXPECT_EQ(image.Slot(it->slotOffset)[0], 0xE5) << path;
        EXPECT_EQ(image.FatEntry(it->firstCluster), 0u) << path;
    }
    EXPECT_EQ(ReadExtents(image, image.Entry("OLD/A.TXT").extents), std::vector<std::uint8_t>({'n', 'e', 'w'}));
}

TEST(FatImageLayout, SubfolderStartsWithDotEntriesAndSpansClustersWhenFull) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat32));
    builder.AddFolder("DCIM");
    for (int i = 0; i < 20; ++i) builder.AddFile("DCIM/IMG" + std::to_string(1000 + i) + ".JPG", "j");
    builder.AddFolder("DCIM/100CANON", {.minClusters = 3});
    const FatImage image = builder.Build();

    const FatEntryInfo& dcim = image.Entry("DCIM");
    EXPECT_EQ(dcim.clusters.size(), 2u) << "2 + 20 slots of 32 bytes need two 512-byte clusters";
    const std::uint64_t first = image.Layout().ClusterOffset(dcim.firstCluster);
    const auto dot = image.Slot(first);
    const auto dotdot = image.Slot(first + 32);
    EXPECT_EQ(std::string(dot.begin(), dot.begin() + 11), ".          ");
    EXPECT_EQ(Le(image, first + 26, 2), dcim.firstCluster);
    EXPECT_EQ(std::string(dotdot.begin(), dotdot.begin() + 11), "..         ");
    EXPECT_EQ(Le(image, first + 32 + 26, 2), 0u) << "the root is cluster 0 in '..'";
    EXPECT_EQ(image.Entry("DCIM/100CANON").clusters.size(), 3u);
    const FatEntryInfo& last = image.Entry("DCIM/IMG1019.JPG");
    EXPECT_EQ(image.Layout().ClusterOffset(dcim.clusters[1]), last.slotOffset - (21 - 16) * 32);
}

TEST(FatImageLayout, RejectsWhatCannotBeLaidOut) {
    auto build = [](const std::function<void(FatImageBuilder&)>& add) {
        FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
        add(builder);
        return builder.Build();
    };
    EXPECT_THROW(build([](FatImageBuilder& b) {
                     b.AddFile("A.BIN", "a", {.clusters = {7}});
                     b.AddFile("B.BIN", "b", {.clusters = {7}});
                 }),
                 std::invalid_argument);
    EXPECT_THROW(build([](FatImageBuilder& b) {
                     b.AddFile("A.BIN", "a");
                     b.AddFile("a.bin", "b");
                 }),
                 std::invalid_argument);
    EXPECT_THROW(build([](FatImageBuilder& b) { b.AddFile("A.BIN", Pattern(5000, 1), {.clusters = {7}}); }),
                 std::invalid_argument);
    EXPECT_THROW(build([](FatImageBuilder& b) {
                     for (int i = 0; i < 512; ++i) b.AddFile("F" + std::to_string(i), "");
                 }),
                 std::invalid_argument)
        << "511 slots left after the label";
    EXPECT_NO_THROW(build([](FatImageBuilder& b) {
        b.AddFile("A.BIN", "a", {.clusters = {7}});
        b.DeleteEntry("A.BIN");
        b.AddFile("B.BIN", "b", {.clusters = {7}});
    })) << "a live file may reuse a deleted file's cluster";
}

TEST(FatImageLayout, DamageKnobsChangeOnlyWhatTheySay) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat32));
    builder.AddFile("A.BIN", Pattern(2000, 7));
    FatImage image = builder.Build();
    const FatEntryInfo a = image.Entry("A.BIN");

    image.SetFatEntryInCopy(1, a.firstCluster, 0x0FFFFFF7);
    EXPECT_EQ(image.FatEntry(a.firstCluster, 1), 0x0FFFFFF7u);
    EXPECT_EQ(image.FatEntry(a.firstCluster, 0), a.clusters[1]);

    image.SetFatEntry(a.clusters.back(), a.firstCluster);
    EXPECT_EQ(image.FatEntry(a.clusters.back(), 0), a.firstCluster);
    EXPECT_EQ(image.FatEntry(a.clusters.back(), 1), a.firstCluster);

    image.CorruptSlot("A.BIN");
    EXPECT_EQ(image.Slot(a.slotOffset)[11], 0xFF);

    image.BreakBootSignature();
    EXPECT_EQ(Le(image, 510, 2), 0u);
    EXPECT_EQ(Le(image, 6 * 512 + 510, 2), 0u);

    image.SetFsInfo(12345, 77);
    EXPECT_EQ(Le(image, 512 + 488, 4), 12345u);
    EXPECT_EQ(Le(image, 512 + 492, 4), 77u);
    image.BreakFsInfoSignature();
    EXPECT_NE(Text(image, 512, 4), "RRaA");
}

TEST(FatImageLayout, TimestampsAreStoredAsGiven) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat32));
    const FatDateTime when{.year = 2009, .month = 13, .day = 31, .hour = 23, .minute = 59, .second = 58};
    builder.AddFile("T.BIN", "t", {.modified = when});
    const FatImage image = builder.Build();
    const std::uint64_t slot = image.Entry("T.BIN").slotOffset;
    EXPECT_EQ(Le(image, slot + 22, 2), (23u << 11) | (59u << 5) | 29u);
    EXPECT_EQ(Le(image, slot + 24, 2), (29u << 9) | (13u << 5) | 31u);
}

} // namespace
} // namespace TestSupport
