#include "support/ExFatImageBuilder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>

// Options are written with designated initializers; GCC before 13 flags the
// fields they leave at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace TestSupport {
namespace {

using namespace ExFat;

// --- external tools -------------------------------------------------------------

std::string FindTool(const std::string& name) {
    std::vector<std::string> dirs = {"/usr/sbin", "/sbin", "/usr/bin", "/bin", "/usr/local/sbin"};
    if (const char* path = std::getenv("PATH")) {
        std::string all = path;
        for (size_t start = 0; start <= all.size();) {
            const size_t colon = std::min(all.find(':', start), all.size());
            dirs.insert(dirs.begin(), all.substr(start, colon - start));
            start = colon + 1;
        }
    }
    for (const std::string& dir : dirs)
        if (!dir.empty() && std::filesystem::exists(dir + "/" + name))
            return dir + "/" + name;
    return {};
}

struct ToolRun {
    int status = -1;
    std::string output;
};

ToolRun Run(const std::string& command) {
    ToolRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

ToolRun Fsck(const std::filesystem::path& image) {
    return Run("'" + FindTool("fsck.exfat") + "' -n '" + image.string() + "'");
}

bool IsClean(const ToolRun& run) {
    return run.status == 0 && run.output.find(": clean.") != std::string::npos &&
           run.output.find("ERROR") == std::string::npos && run.output.find("corrupt") == std::string::npos;
}

// "directories D, files F" from the summary line.
std::pair<int, int> FsckCounts(const ToolRun& run) {
    std::smatch match;
    static const std::regex summary("directories (\\d+), files (\\d+)");
    if (!std::regex_search(run.output, match, summary))
        return {-1, -1};
    return {std::stoi(match[1]), std::stoi(match[2])};
}

#define REQUIRE_TOOL(name)                                  \
    do {                                                    \
        if (FindTool(name).empty())                         \
            GTEST_SKIP() << name << " is not installed";    \
    } while (0)

// --- reading images back ----------------------------------------------------------

std::string Slice(const std::vector<uint8_t>& image, uint64_t offset, uint64_t length) {
    return std::string(reinterpret_cast<const char*>(image.data() + offset), length);
}

uint32_t FatEntryOf(const std::vector<uint8_t>& image, const ExFatImageBuilder& b, uint32_t cluster, int copy = 0) {
    const uint64_t fat = (uint64_t{b.FatOffset()} + uint64_t{b.FatLength()} * copy) * b.SectorSize();
    return GetLe<uint32_t>(&image[fat + 4ull * cluster]);
}

bool BitmapBit(const std::vector<uint8_t>& image, const ExFatImageBuilder& b, uint32_t cluster) {
    const uint64_t at = b.ClusterOffset(b.BitmapCluster()) + (cluster - 2) / 8;
    return (image[at] >> ((cluster - 2) % 8)) & 1;
}

std::string ExtentBytes(const std::vector<uint8_t>& image, const ExFatEntryInfo& info) {
    std::string bytes;
    for (const ExFatExtent& extent : info.extents)
        bytes += Slice(image, extent.offset, extent.length);
    return bytes;
}

std::string Pattern(size_t size, uint8_t seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

const std::array<uint8_t, 16> kVendorGuid = {0x4B, 0x41, 0x4C, 0x56, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// A volume with one of everything the directory walk meets. fsck.exfat 1.2.0
// calls vendor entries unknown, so the fsck run leaves them out.
void AddRichContent(ExFatImageBuilder& b, bool withVendorEntries = true) {
    b.AddFolder("DCIM/100MEDIA");
    b.AddFile("DCIM/100MEDIA/CLIP0001.MTS", Pattern(20000, 1), {.noFatChain = true});
    b.AddFile("DCIM/100MEDIA/CLIP0002.MTS", Pattern(9000, 2));
    b.AddFile("DCIM/100MEDIA/FRAGMENT.MTS", Pattern(3 * 4096 + 100, 3), {.clusters = {200, 201, 150, 300}});
    b.AddFile("A clip name long enough to need four File Name entries.MTS", Pattern(5000, 4));
    b.AddFile("Café Ünïcödé Привет αβγ.jpg", Pattern(100, 5));
    b.AddFile("empty.txt", "");
    b.AddFolder("PRIVATE/AVCHD/BDMV/STREAM", {.noFatChain = true, .clusterCount = 3});
    for (int i = 0; i < 40; ++i)
        b.AddFile("PRIVATE/AVCHD/BDMV/STREAM/0000" + std::to_string(i) + "_stream_file.MTS", Pattern(10, static_cast<uint8_t>(i)));
    b.AddFolder("MANY");
    for (int i = 0; i < 50; ++i)
        b.AddFile("MANY/picture_number_" + std::to_string(i) + ".JPG", Pattern(700, static_cast<uint8_t>(i)));
    ExFatEntryOptions vendor;
    if (withVendorEntries)
        vendor.vendorEntries = {ExFatVendorEntry::Extension(kVendorGuid, "camera"),
                                ExFatVendorEntry::Allocation(kVendorGuid, 0, 0)};
    b.AddFile("VENDOR.BIN", Pattern(4096, 9), vendor);
    b.AddFile("DCIM/100MEDIA/GONE0003.MTS", Pattern(7000, 6));
    b.AddFolder("OLD");
    b.AddFile("OLD/inner deleted file.txt", Pattern(300, 7));
    b.DeleteEntry("DCIM/100MEDIA/GONE0003.MTS");
    b.DeleteEntry("OLD");
}
constexpr int kRichLiveFiles = 6 + 40 + 50 + 1;
constexpr int kRichLiveFolders = 1 + 2 + 4 + 1; // root, DCIM/100MEDIA, PRIVATE/AVCHD/BDMV/STREAM, MANY

// --- fsck acceptance --------------------------------------------------------------

TEST(ExFatImageBuilderFsck, RichVolumePassesFsck) {
    REQUIRE_TOOL("fsck.exfat");
    TempDir dir("exfatimg");
    ExFatImageBuilder b({.volumeBytes = 64ull << 20});
    AddRichContent(b, false);
    b.WriteTo(dir / "rich.img");
    const ToolRun run = Fsck(dir / "rich.img");
    EXPECT_TRUE(IsClean(run)) << run.output;
    EXPECT_EQ(FsckCounts(run), std::make_pair(kRichLiveFolders, kRichLiveFiles)) << run.output;
}

TEST(ExFatImageBuilderFsck, GeometryVariantsPassFsck) {
    REQUIRE_TOOL("fsck.exfat");
    TempDir dir("exfatimg");
    const std::vector<ExFatGeometry> variants = {
        {.volumeBytes = 8ull << 20, .bytesPerSectorShift = 9, .sectorsPerClusterShift = 0},
        {.volumeBytes = 16ull << 20, .bytesPerSectorShift = 12, .sectorsPerClusterShift = 2},
        {.volumeBytes = 40ull << 20, .sectorsPerClusterShift = 6, .volumeLabel = ""},
        {.volumeBytes = 12ull << 20, .volumeLabel = "Çamcördér", .rootDirectoryClusters = 3},
    };
    for (size_t i = 0; i < variants.size(); ++i) {
        ExFatImageBuilder b(variants[i]);
        b.AddFile("DIR/ñame with ÜPPER and lower.bin", Pattern(3 * b.ClusterSize() + 1, 1));
        b.AddFile("DIR/b.bin", Pattern(b.ClusterSize() * 2, 2), {.noFatChain = true});
        for (int f = 0; f < 30; ++f)
            b.AddFile("root file " + std::to_string(f), "x");
        const auto image = dir / ("variant" + std::to_string(i) + ".img");
        b.WriteTo(image);
        const ToolRun run = Fsck(image);
        EXPECT_TRUE(IsClean(run)) << "variant " << i << "\n" << run.output;
        EXPECT_EQ(FsckCounts(run), std::make_pair(2, 32)) << run.output;
    }
}

// --- damage knobs are seen by fsck ----------------------------------------------------

struct Damage {
    std::string name;
    std::function<void(ExFatImageBuilder&)> apply;
};

TEST(ExFatImageBuilderFsck, EachDamageKnobIsReported) {
    REQUIRE_TOOL("fsck.exfat");
    TempDir dir("exfatimg");
    auto base = [](ExFatImageBuilder& b, const ExFatEntryOptions& options) {
        b.AddFile("DCIM/CLIP0001.MTS", Pattern(9000, 1), options);
        b.AddFile("DCIM/CLIP0002.MTS", Pattern(5000, 2));
    };
    const std::vector<std::pair<Damage, ExFatEntryOptions>> cases = {
        {{"none", {}}, {}},
        {{"set checksum", {}}, {.setChecksum = 0x1234}},
        {{"name hash", {}}, {.nameHash = 0xBEEF}},
        {{"name length", {}}, {.nameLength = 40}},
        {{"set cut at directory end", {}}, {.writtenSlots = 2}},
        {{"fat loop", [](ExFatImageBuilder& b) {
              const auto info = b.Describe("DCIM/CLIP0001.MTS");
              b.SetFatEntry(info.clusters[2], info.clusters[0]);
          }}, {}},
        {{"fat out of range", [](ExFatImageBuilder& b) {
              b.SetFatEntry(b.Describe("DCIM/CLIP0001.MTS").clusters[0], b.ClusterCount() + 100);
          }}, {}},
        {{"cross-linked chain", [](ExFatImageBuilder& b) {
              b.SetFatEntry(b.Describe("DCIM/CLIP0001.MTS").clusters[2], b.Describe("DCIM/CLIP0002.MTS").clusters[0]);
          }}, {}},
        {{"revision 2.0", [](ExFatImageBuilder& b) { b.PatchBootSector(104, {0x00, 0x02}); }}, {}},
        {{"sector shift 13", [](ExFatImageBuilder& b) { b.PatchBootSector(108, {13}); }}, {}},
        {{"cluster count too large", [](ExFatImageBuilder& b) { b.PatchBootSector(92, {0xFF, 0xFF, 0xFF, 0x0F}); }}, {}},
        {{"boot checksum", [](ExFatImageBuilder& b) { b.WriteRaw(11ull * b.SectorSize(), {1, 2, 3, 4}); }}, {}},
        {{"file system name", [](ExFatImageBuilder& b) { b.WriteRaw(3, {'F', 'A', 'T', '3', '2'}); }}, {}},
    };
    for (const auto& [damage, options] : cases) {
        ExFatImageBuilder b({.volumeBytes = 8ull << 20});
        ExFatEntryOptions first = options;
        if (damage.name == "set cut at directory end") {
            // The damaged set goes last, so the directory ends inside it.
            b.AddFile("DCIM/CLIP0002.MTS", Pattern(5000, 2));
            b.AddFile("DCIM/CLIP0001.MTS", Pattern(9000, 1), first);
        } else {
            base(b, first);
        }
        if (damage.apply)
            damage.apply(b);
        const auto image = dir / "damaged.img";
        b.WriteTo(image);
        const ToolRun run = Fsck(image);
        if (damage.name == "none")
            EXPECT_TRUE(IsClean(run)) << run.output;
        else
            EXPECT_FALSE(IsClean(run)) << damage.name << " was not reported:\n" << run.output;
    }
}

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

// --- cross-check against mkfs.exfat -----------------------------------------------

std::string ReadRegion(const std::filesystem::path& path, uint64_t offset, size_t length) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(length, '\0');
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(bytes.data(), static_cast<std::streamsize>(length));
    return bytes;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Formats a sparse file with mkfs.exfat and reads back what a builder needs to
// reproduce it: size, serial and up-case table.
ExFatGeometry Mkfs(const std::filesystem::path& path, uint64_t bytes, const std::string& options) {
    std::filesystem::remove(path);
    { std::ofstream create(path, std::ios::binary); }
    std::filesystem::resize_file(path, bytes);
    const ToolRun run = Run("'" + FindTool("mkfs.exfat") + "' " + options + " '" + path.string() + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string boot = ReadRegion(path, 0, 512);
    const uint64_t heap = uint64_t{GetLe<uint32_t>(Bytes(boot) + 88)} << boot[108];
    const uint64_t clusterSize = 1ull << (boot[108] + boot[109]);
    const std::string root = ReadRegion(path, heap + (GetLe<uint32_t>(Bytes(boot) + 96) - 2) * clusterSize, 4 * 32);
    ExFatGeometry geometry;
    geometry.volumeBytes = bytes;
    geometry.volumeSerial = GetLe<uint32_t>(Bytes(boot) + 100);
    for (size_t slot = 0; slot < root.size(); slot += 32)
        if (static_cast<uint8_t>(root[slot]) == kEntryUpCaseTable) {
            const uint64_t at = heap + (GetLe<uint32_t>(Bytes(root) + slot + 20) - 2) * clusterSize;
            const std::string table = ReadRegion(path, at, GetLe<uint64_t>(Bytes(root) + slot + 24));
            geometry.upCaseTable = std::vector<uint8_t>(table.begin(), table.end());
        }
    return geometry;
}

TEST(ExFatImageBuilderMkfs, SameGeometryGivesTheSameBootRegionAndSystemEntries) {
    REQUIRE_TOOL("mkfs.exfat");
    TempDir dir("exfatimg");
    struct Case {
        uint64_t bytes;
        std::string options;
        std::optional<uint8_t> clusterShift;
    };
    const std::vector<Case> cases = {
        {64ull << 20, "-L CARD", std::nullopt},
        {300ull << 20, "-L CARD", std::nullopt},
        {100ull << 20, "-L CARD -c 16K", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options + " " + std::to_string(c.bytes));
        const auto theirs = dir / "mkfs.img";
        ExFatGeometry geometry = Mkfs(theirs, c.bytes, c.options);
        ASSERT_TRUE(geometry.upCaseTable.has_value());
        geometry.volumeLabel = "CARD";
        geometry.sectorsPerClusterShift = c.clusterShift;
        ExFatImageBuilder b(geometry);
        const auto ours = dir / "ours.img";
        b.WriteTo(ours);
        auto same = [&](uint64_t offset, size_t length) {
            return ReadRegion(theirs, offset, length) == ReadRegion(ours, offset, length);
        };
        const std::string boot = ReadRegion(theirs, 0, 512);
        EXPECT_EQ(GetLe<uint32_t>(Bytes(boot) + 80), b.FatOffset());
        EXPECT_EQ(GetLe<uint32_t>(Bytes(boot) + 84), b.FatLength());
        EXPECT_EQ(GetLe<uint32_t>(Bytes(boot) + 88), b.ClusterHeapOffset());
        EXPECT_EQ(GetLe<uint32_t>(Bytes(boot) + 92), b.ClusterCount());
        EXPECT_EQ(GetLe<uint32_t>(Bytes(boot) + 96), b.RootCluster());
        EXPECT_TRUE(same(0, 24 * b.SectorSize())) << "boot regions differ";
        EXPECT_TRUE(same(b.ClusterOffset(b.RootCluster()), 96)) << "root system entries differ";
        EXPECT_TRUE(same(uint64_t{b.FatOffset()} * b.SectorSize(), 64)) << "FAT heads differ";
        EXPECT_TRUE(same(b.ClusterOffset(b.BitmapCluster()), 16)) << "bitmaps differ";
    }
}

TEST(ExFatImageBuilderMkfs, OwnUpCaseTableAgreesWithMkfsWhereverItMapsALetter) {
    REQUIRE_TOOL("mkfs.exfat");
    TempDir dir("exfatimg");
    const ExFatGeometry reference = Mkfs(dir / "mkfs.img", 8ull << 20, "");
    ASSERT_TRUE(reference.upCaseTable.has_value());
    const std::vector<uint16_t> theirs = ExpandUpCase(*reference.upCaseTable);
    const std::vector<uint16_t> ours = DefaultUpCaseMapping();
    int mapped = 0;
    for (size_t c = 0; c < ours.size(); ++c)
        if (ours[c] != c) {
            ++mapped;
            EXPECT_EQ(ours[c], theirs[c]) << std::hex << "U+" << c;
        }
    EXPECT_GT(mapped, 200);
    EXPECT_EQ(ExpandUpCase(CompressUpCase(ours)), ours);
    EXPECT_EQ(ExpandUpCase(FullUpCase(ours)), ours);
}

TEST(ExFatImageBuilderMkfs, FilesUnderMkfsUpCaseTablePassFsck) {
    REQUIRE_TOOL("mkfs.exfat");
    REQUIRE_TOOL("fsck.exfat");
    TempDir dir("exfatimg");
    ExFatGeometry geometry = Mkfs(dir / "mkfs.img", 16ull << 20, "");
    ExFatImageBuilder b(geometry);
    b.AddFile("Ωmega ǅ ǈ ß ﬁ straße.txt", Pattern(100, 1));
    b.AddFile("DCIM/Ärger über Öl.jpg", Pattern(5000, 2));
    b.WriteTo(dir / "mkfs-table.img");
    const ToolRun run = Fsck(dir / "mkfs-table.img");
    EXPECT_TRUE(IsClean(run)) << run.output;
    EXPECT_EQ(FsckCounts(run), std::make_pair(2, 2)) << run.output;
}

} // namespace
} // namespace TestSupport
