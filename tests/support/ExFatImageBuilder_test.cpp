// The exFAT image builder: on-disk layout of what it is asked for, sparse volumes.
#include "support/ExFatBuilderTestTools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace TestSupport {
namespace {

using namespace ExFatBuilderTest;
using namespace ExFat;


// --- the accessor matches the bytes on disk ---------------------------------------------

TEST(ExFatImageBuilderLayout, EntriesMatchOnDiskSetsChainsAndData) {
    ExFatImageBuilder b({.volumeBytes = 64ull << 20});
    AddRichContent(b);
    const std::vector<uint8_t> image = b.Build();
    const std::vector<ExFatEntryInfo> entries = b.Entries();
    ASSERT_EQ(entries.size(), static_cast<size_t>(kRichLiveFiles + kRichLiveFolders - 1 + 3));
    for (const ExFatEntryInfo& e : entries) {
        SCOPED_TRACE(e.path);
        const uint8_t* file = &image[e.entryOffset];
        const uint8_t* stream = file + 32;
        EXPECT_EQ(file[0], e.deleted ? 0x05 : 0x85);
        EXPECT_EQ(stream[0], e.deleted ? 0x40 : 0xC0);
        EXPECT_EQ(GetLe<uint32_t>(stream + 20), e.firstCluster);
        EXPECT_EQ(GetLe<uint64_t>(stream + 24), e.dataLength);
        EXPECT_EQ((stream[1] & kStreamNoFatChain) != 0, e.noFatChain);
        EXPECT_EQ((GetLe<uint16_t>(file + 4) & 0x10) != 0, e.isDirectory);
        uint64_t total = 0;
        for (const ExFatExtent& extent : e.extents)
            total += extent.length;
        EXPECT_EQ(total, e.dataLength);
        if (!e.noFatChain && !e.clusters.empty()) {
            for (size_t i = 0; i + 1 < e.clusters.size(); ++i)
                EXPECT_EQ(FatEntryOf(image, b, e.clusters[i]), e.clusters[i + 1]);
            EXPECT_EQ(FatEntryOf(image, b, e.clusters.back()), kFatEndOfChain);
        }
        for (uint32_t c : e.clusters)
            EXPECT_EQ(BitmapBit(image, b, c), !e.deleted) << "cluster " << c;
        if (!e.isDirectory) {
            EXPECT_EQ(ExtentBytes(image, e), b.FileData(e.path));
        }
        if (!e.deleted) {
            std::vector<Slot> set(1 + file[1]);
            for (size_t i = 0; i < set.size(); ++i)
                std::copy_n(file + 32 * i, 32, set[i].begin());
            EXPECT_EQ(GetLe<uint16_t>(file + 2), SetChecksum(set));
            const std::string leaf = e.path.substr(e.path.rfind('/') + 1);
            EXPECT_EQ(GetLe<uint16_t>(stream + 4), NameHash(Utf8ToUtf16(leaf), DefaultUpCaseMapping()));
        }
    }
}

TEST(ExFatImageBuilderLayout, VendorEntriesFollowTheNamesInsideTheSet) {
    ExFatImageBuilder b({.volumeBytes = 64ull << 20});
    AddRichContent(b);
    const std::vector<uint8_t> image = b.Build();
    const uint8_t* set = &image[b.Describe("VENDOR.BIN").entryOffset];
    EXPECT_EQ(set[1], 4);
    EXPECT_EQ(set[32 * 2], 0xC1);
    EXPECT_EQ(set[32 * 3], 0xE0);
    EXPECT_EQ(set[32 * 4], 0xE1);
    EXPECT_EQ(Slice(image, b.Describe("VENDOR.BIN").entryOffset + 32 * 3 + 2, 16),
              std::string(kVendorGuid.begin(), kVendorGuid.end()));
    EXPECT_EQ(Slice(image, b.Describe("VENDOR.BIN").entryOffset + 32 * 3 + 18, 6), "camera");
}

TEST(ExFatImageBuilderLayout, FullUpCaseTableHoldsEveryUnit) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20, .compressedUpCase = false});
    const std::vector<uint8_t> image = b.Build();
    const uint8_t* entry = &image[b.ClusterOffset(b.RootCluster()) + 64];
    ASSERT_EQ(entry[0], kEntryUpCaseTable);
    EXPECT_EQ(GetLe<uint64_t>(entry + 24), 2u * 65536);
    const uint64_t at = b.ClusterOffset(GetLe<uint32_t>(entry + 20));
    const std::vector<uint8_t> table(image.begin() + at, image.begin() + at + 2 * 65536);
    EXPECT_EQ(GetLe<uint32_t>(entry + 4), TableChecksum(table));
    EXPECT_EQ(ExpandUpCase(table), DefaultUpCaseMapping());
    EXPECT_EQ(GetLe<uint16_t>(&table[2 * 0x44F]), 0x42F);
}

TEST(ExFatImageBuilderLayout, FragmentedAndContiguousExtents) {
    ExFatImageBuilder b({.volumeBytes = 64ull << 20});
    AddRichContent(b);
    const auto fragment = b.Describe("DCIM/100MEDIA/FRAGMENT.MTS");
    EXPECT_EQ(fragment.clusters, (std::vector<uint32_t>{200, 201, 150, 300}));
    EXPECT_EQ(fragment.extents, (std::vector<ExFatExtent>{{b.ClusterOffset(200), 2 * 4096},
                                                          {b.ClusterOffset(150), 4096},
                                                          {b.ClusterOffset(300), 100}}));
    const auto contiguous = b.Describe("DCIM/100MEDIA/CLIP0001.MTS");
    ASSERT_EQ(contiguous.extents.size(), 1u);
    EXPECT_EQ(contiguous.extents[0].length, 20000u);
    EXPECT_EQ(contiguous.clusters.size(), 5u);
}

TEST(ExFatImageBuilderLayout, LongNamesSpanSeveralNameEntriesWithUnitsInOrder) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20});
    const std::string name = "A clip name long enough to need four File Name entries.MTS";
    b.AddFile(name, "data");
    const std::vector<uint8_t> image = b.Build();
    const uint8_t* set = &image[b.Describe(name).entryOffset];
    EXPECT_EQ(set[1], 5); // stream + 4 names
    EXPECT_EQ(set[32 + 3], name.size());
    std::string read;
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(set[64 + 32 * n], 0xC1);
        for (int u = 0; u < 15; ++u)
            read += static_cast<char>(GetLe<uint16_t>(set + 64 + 32 * n + 2 + 2 * u));
    }
    EXPECT_EQ(read.substr(0, name.size()), name);
    EXPECT_EQ(read.find_first_not_of('\0', name.size()), std::string::npos);
    EXPECT_EQ(set[64 + 32 * 4], 0x00); // end of directory right after the set
}

TEST(ExFatImageBuilderLayout, DeletedSetsClearEveryInUseBitAndFreeClusters) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20});
    b.AddFile("KEEP.BIN", Pattern(5000, 1));
    b.AddFile("a deleted file with a long name.bin", Pattern(9000, 2),
              {.vendorEntries = {ExFatVendorEntry::Extension(kVendorGuid)}});
    b.AddFile("CLEARED.BIN", Pattern(9000, 3));
    b.DeleteEntry("a deleted file with a long name.bin");
    b.DeleteEntry("CLEARED.BIN", true);
    const std::vector<uint8_t> image = b.Build();

    const auto gone = b.Describe("a deleted file with a long name.bin");
    EXPECT_TRUE(gone.deleted);
    const uint8_t* set = &image[gone.entryOffset];
    const std::vector<uint8_t> expected = {0x05, 0x40, 0x41, 0x41, 0x41, 0x60};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(set[32 * i], expected[i]) << "slot " << i;
    EXPECT_EQ(set[1], expected.size() - 1);
    for (uint32_t c : gone.clusters)
        EXPECT_FALSE(BitmapBit(image, b, c));
    EXPECT_EQ(FatEntryOf(image, b, gone.clusters[0]), gone.clusters[1]); // chain left as it was
    EXPECT_EQ(ExtentBytes(image, gone), Pattern(9000, 2));               // data left as it was

    const auto cleared = b.Describe("CLEARED.BIN");
    EXPECT_EQ(FatEntryOf(image, b, cleared.clusters[0]), 0u);
    EXPECT_TRUE(BitmapBit(image, b, b.Describe("KEEP.BIN").clusters[0]));
}

TEST(ExFatImageBuilderLayout, DeletedClustersAreNotReusedButANewLiveNameIsAllowed) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20});
    b.AddFile("CLIP.MTS", Pattern(8192, 1));
    b.DeleteEntry("CLIP.MTS");
    b.AddFile("CLIP.MTS", Pattern(8192, 2));
    const auto entries = b.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].deleted);
    EXPECT_FALSE(entries[1].deleted);
    for (uint32_t c : entries[1].clusters)
        EXPECT_EQ(std::count(entries[0].clusters.begin(), entries[0].clusters.end(), c), 0);
    EXPECT_FALSE(b.Describe("CLIP.MTS").deleted);
}

TEST(ExFatImageBuilderLayout, RawSlotsAndCutSetsLandWhereAsked) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20, .volumeLabel = ""});
    Slot bare{};
    bare[0] = 0x80;
    b.AddRawSlot("", bare);
    b.AddFile("CUT.BIN", "abc", {.writtenSlots = 2});
    const std::vector<uint8_t> image = b.Build();
    const uint64_t root = b.ClusterOffset(b.RootCluster());
    EXPECT_EQ(image[root], 0x81);
    EXPECT_EQ(image[root + 32], 0x82);
    EXPECT_EQ(image[root + 64], 0x80);
    EXPECT_EQ(b.Describe("CUT.BIN").entryOffset, root + 96);
    EXPECT_EQ(image[root + 96], 0x85);
    EXPECT_EQ(image[root + 97], 2); // still claims its File Name entry
    EXPECT_EQ(image[root + 128], 0xC0);
    EXPECT_EQ(image[root + 160], 0x00);
}

TEST(ExFatImageBuilderLayout, DirectoriesGrowIntoSeveralClusters) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20, .sectorsPerClusterShift = 0});
    b.AddFolder("CHAINED");
    b.AddFolder("BLOCKER");
    b.AddFolder("CONTIG", {.noFatChain = true, .clusterCount = 4});
    for (int i = 0; i < 20; ++i) {
        b.AddFile("CHAINED/file" + std::to_string(i), "x");
        b.AddFile("CONTIG/file" + std::to_string(i), "y");
    }
    const auto chained = b.Describe("CHAINED");
    ASSERT_GE(chained.clusters.size(), 4u); // 1 + 60 slots of 32 bytes in 512-byte clusters
    EXPECT_NE(chained.clusters[1], chained.clusters[0] + 1); // BLOCKER sits right after it
    EXPECT_EQ(chained.dataLength, chained.clusters.size() * 512);
    const auto contig = b.Describe("CONTIG");
    EXPECT_EQ(contig.clusters.size(), 4u);
    EXPECT_EQ(contig.extents.size(), 1u);
    b.AddFile("CONTIG/one too many", "z");
    EXPECT_THROW(b.AddFile("CONTIG/second too many with a long name", "z"), std::runtime_error);
}

TEST(ExFatImageBuilderLayout, SecondFatCopyCanDifferAndActiveFatIsWritten) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20, .numberOfFats = 2, .volumeFlags = 1});
    b.AddFile("F.BIN", Pattern(3 * 4096, 1));
    const auto info = b.Describe("F.BIN");
    b.SetFatEntry(info.clusters[0], 0, 1);
    const std::vector<uint8_t> image = b.Build();
    EXPECT_EQ(image[110], 2);
    EXPECT_EQ(GetLe<uint16_t>(&image[106]), 1);
    EXPECT_EQ(FatEntryOf(image, b, info.clusters[0], 0), info.clusters[1]);
    EXPECT_EQ(FatEntryOf(image, b, info.clusters[0], 1), 0u);
    EXPECT_EQ(FatEntryOf(image, b, info.clusters[1], 1), info.clusters[2]);
    EXPECT_GE(b.ClusterHeapOffset(), b.FatOffset() + 2 * b.FatLength());
}

TEST(ExFatImageBuilderLayout, BootRegionHasBackupExtendedSignaturesAndChecksum) {
    ExFatImageBuilder b({.volumeBytes = 8ull << 20});
    b.PatchBootSector(112, {0x33}, false);
    const std::vector<uint8_t> image = b.Build();
    const size_t ss = b.SectorSize();
    for (size_t s = 1; s <= 8; ++s)
        EXPECT_EQ(GetLe<uint32_t>(&image[s * ss + ss - 4]), 0xAA550000u) << "sector " << s;
    std::vector<uint8_t> region(image.begin(), image.begin() + 11 * ss);
    EXPECT_EQ(GetLe<uint32_t>(&image[11 * ss]), BootRegionChecksum(region, ss));
    EXPECT_EQ(GetLe<uint32_t>(&image[12 * ss - 4]), BootRegionChecksum(region, ss));
    // Only the percent-in-use byte differs, and the checksum leaves it out.
    EXPECT_EQ(image[112], 0x33);
    EXPECT_NE(image[12 * ss + 112], 0x33);
    EXPECT_EQ(Slice(image, 11 * ss, ss), Slice(image, 23 * ss, ss));
}

// --- sparse large volumes ---------------------------------------------------------

TEST(ExFatImageBuilderSparse, SixtyFourGiBVolumeWithAFiveGiBFile) {
    TempDir dir("exfatimg");
    constexpr uint64_t kFileSize = 5ull << 30;
    ExFatImageBuilder b({.volumeBytes = 64ull << 30});
    EXPECT_EQ(b.ClusterSize(), 128u * 1024);
    b.AddFile("DCIM/BIG.MTS", "head", {.dataLength = kFileSize});
    b.WriteFileData("DCIM/BIG.MTS", kFileSize - 4, "tail");
    b.AddFile("DCIM/SMALL.MTS", Pattern(1000, 1));
    const auto path = dir / "big.img";
    b.WriteTo(path);

    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 64ull << 30);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 64ull << 20) << "image is not sparse";

    const auto big = b.Describe("DCIM/BIG.MTS");
    EXPECT_EQ(big.dataLength, kFileSize);
    std::ifstream in(path, std::ios::binary);
    auto readAt = [&](uint64_t offset, size_t n) {
        std::string bytes(n, '\0');
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(bytes.data(), static_cast<std::streamsize>(n));
        return bytes;
    };
    const std::string stream = readAt(big.entryOffset + 32, 32);
    EXPECT_EQ(GetLe<uint64_t>(reinterpret_cast<const uint8_t*>(stream.data()) + 24), kFileSize);
    EXPECT_EQ(readAt(big.extents.front().offset, 4), "head");
    EXPECT_EQ(readAt(big.extents.back().offset + big.extents.back().length - 4, 4), "tail");

    if (!FindTool("fsck.exfat").empty()) {
        const ToolRun run = Fsck(path);
        EXPECT_TRUE(IsClean(run)) << run.output;
        EXPECT_EQ(FsckCounts(run), std::make_pair(2, 2)) << run.output;
    }
}

TEST(ExFatImageBuilderSparse, BuildRefusesVolumesTooLargeForMemory) {
    ExFatImageBuilder b({.volumeBytes = 4ull << 30});
    EXPECT_THROW(b.Build(), std::length_error);
}

} // namespace
} // namespace TestSupport
