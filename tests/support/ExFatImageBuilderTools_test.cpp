// The exFAT image builder checked by the format's own tools: fsck.exfat passes
// its volumes and reports each damage knob; mkfs.exfat lays out the same.
#include "support/ExFatBuilderTestTools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace TestSupport {
namespace {

using namespace ExFatBuilderTest;
using namespace ExFat;

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
