// Opening exFAT volumes: geometry, refusals, the active table copy, hostile
// geometry, and volumes made by mkfs.exfat.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "AAA_Exceptions.h"
#include "ExFatReaderTestSupport.h"

// Options are filled with designated initializers; GCC before 13 flags the
// fields they leave at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace ExFatReaderTest;
using TestSupport::ExFatGeometry;
using TestSupport::ExFatImageBuilder;
using TestSupport::TempDir;

std::vector<uint8_t> Le(uint64_t value, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    return out;
}

std::filesystem::path Write(const ExFatImageBuilder& image, const TempDir& dir, const std::string& name = "card.img") {
    const auto path = dir / name;
    image.WriteTo(path);
    return path;
}

TEST(ExFatOpen, DerivesTheGeometryAndLogsIt) {
    TempDir dir;
    ExFatImageBuilder image;
    const auto path = Write(image, dir);
    auto reader = MakeReader(path);
    LogCapture log;
    ASSERT_TRUE(reader->Open());
    EXPECT_EQ(reader->sectorSize, 512u);
    EXPECT_EQ(reader->clusterSize, image.ClusterSize());
    EXPECT_EQ(reader->searchStep, 512u);
    EXPECT_EQ(reader->fatSize, image.FatLength() * 512u);
    EXPECT_EQ(reader->totalBytes, 32ull << 20);
    EXPECT_EQ(reader->startOfFat, image.FatOffset() * 512ull);
    EXPECT_EQ(reader->startOfDataArea, image.ClusterHeapOffset() * 512ull);
    EXPECT_EQ(reader->startOfRootDir, image.ClusterOffset(image.RootCluster()));
    EXPECT_EQ(reader->directoryEntrySize, 32u);
    EXPECT_EQ(reader->fatType, 4);
    EXPECT_EQ(reader->stream->blockSize, 512u);
    EXPECT_TRUE(log.Contains("    sectorSize      = 512\n"));
    EXPECT_TRUE(log.Contains("    totalBytes      = 33554432\n"));
    EXPECT_TRUE(log.Contains("    startofRootDir  = 0x"));
}

TEST(ExFatOpen, RefusesVolumesThatAreNotExFat) {
    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"major revision 2", 105, {0x02}},
        {"one byte in MustBeZero", 40, {0x01}},
        {"one reserved byte at 113", 113, {0x01}},
        {"signature bytes swapped", 510, {0xAA, 0x55}},
        {"FAT32 name", 3, {'M', 'S', 'D', 'O', 'S', '5', '.', '0'}},
        {"sector shift 13", 108, {13}},
        {"sector shift 0", 108, {0}},
        {"cluster above 32 MiB", 109, {17}},
        {"cluster shift 200", 109, {200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ExFatImageBuilder image;
        image.PatchBootSector(c.offset, c.bytes);
        auto reader = MakeReader(Write(image, dir));
        EXPECT_FALSE(reader->Open());
    }
}

TEST(ExFatOpen, DeviceShorterThanABootSectorIsAnEndOfMedium) {
    TempDir dir;
    TestSupport::WriteFileBytes(dir / "short.img", std::string(100, '\0'));
    auto reader = MakeReader(dir / "short.img");
    EXPECT_THROW(reader->Open(), AAA::UnexpectedEofException);
}

TEST(ExFatOpen, KeepsAVolumeLengthOfTwoToTheThirtyTwoSectorsAndMore) {
    TempDir dir;
    ExFatImageBuilder image;
    const uint64_t sectors = (1ull << 32) + 65536;
    image.PatchBootSector(72, Le(sectors, 8));
    auto reader = MakeReader(Write(image, dir));
    ASSERT_TRUE(reader->Open());
    EXPECT_EQ(reader->totalBytes, sectors * 512);
    EXPECT_NO_THROW(reader->ReadAllocationTable());
}

TEST(ExFatAllocationTable, ActiveFatChoosesTheSecondCopyOnlyWithTwoCopies) {
    for (const uint8_t copies : {1, 2}) {
        for (const uint16_t flags : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "copies " << int(copies) << " flags " << flags);
            TempDir dir;
            ExFatGeometry geometry;
            geometry.numberOfFats = copies;
            geometry.volumeFlags = flags;
            ExFatImageBuilder image(geometry);
            image.SetFatEntry(100, 0x1111, 0);
            if (copies == 2)
                image.SetFatEntry(100, 0x2222, 1);
            auto reader = LoadImage(image, dir);
            EXPECT_EQ(reader->fat.Entry.size(), reader->fatSize / 4);
            EXPECT_EQ(reader->clusterLimit, image.ClusterCount() + 2);
            EXPECT_EQ(reader->fat.Entry.Value(100), copies == 2 && flags == 1 ? 0x2222u : 0x1111u);
            EXPECT_EQ(reader->fat.Entry.Value(0), 0xFFFFFFF8u);
        }
    }
}

TEST(ExFatAllocationTable, TableReadWritesNoFieldTraceLines) {
    TempDir dir;
    ExFatImageBuilder image;
    auto reader = MakeReader(Write(image, dir));
    ASSERT_TRUE(reader->Open());
    LogCapture log;
    reader->ReadAllocationTable();
    EXPECT_FALSE(log.Contains("FileAllocationTable.Entry {32,LE}")) << log.Text().substr(0, 400);
    EXPECT_EQ(AAA::LogThreshold.load(), 8) << "threshold restored";
}

// Geometry the device or the boot sector contradicts: a clear error before any
// table is allocated.
TEST(ExFatAllocationTable, InconsistentGeometryIsRefusedBeforeAllocating) {
    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"FatLength of 4.5 GiB", 84, Le(0x00900000, 4)},
        {"FatLength reaching into the heap", 84, Le(0x00100000, 4)},
        {"ClusterCount beyond the table", 92, Le(0x00100000, 4)},
        {"ClusterCount beyond the volume", 72, Le(8192, 8)},
        {"heap offset beyond the volume", 88, Le(0x01000000, 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ExFatImageBuilder image;
        image.PatchBootSector(c.offset, c.bytes);
        auto reader = MakeReader(Write(image, dir));
        ASSERT_TRUE(reader->Open());
        LogCapture log;
        EXPECT_THROW(reader->ReadAllocationTable(), AAA::InvalidDataException);
        EXPECT_EQ(reader->fat.Entry.size(), 0u);
        EXPECT_TRUE(log.Contains("FSAccessLib/FSSpecExFAT(")) << log.Text();
    }
}

TEST(ExFatAllocationTable, TableBeyondTheEndOfTheDeviceIsAnEndOfMedium) {
    TempDir dir;
    ExFatImageBuilder image;
    const auto path = Write(image, dir);
    std::filesystem::resize_file(path, image.FatOffset() * 512ull + 100);
    auto reader = MakeReader(path);
    ASSERT_TRUE(reader->Open());
    LogCapture log;
    EXPECT_THROW(reader->ReadAllocationTable(), AAA::UnexpectedEofException);
    EXPECT_EQ(reader->fat.Entry.size(), 0u) << "nothing allocated for a table the device cannot hold";
    EXPECT_TRUE(log.Contains("beyond the end of the medium")) << log.Text();
}

TEST(ExFatRootDirectory, RootClusterOutsideTheHeapIsRefused) {
    for (const uint32_t root : {0u, 1u, 0x00FFFFFFu}) {
        SCOPED_TRACE(root);
        TempDir dir;
        ExFatImageBuilder image;
        image.PatchBootSector(96, Le(root, 4));
        auto reader = MakeReader(Write(image, dir));
        ASSERT_TRUE(reader->Open());
        reader->ReadAllocationTable();
        EXPECT_THROW(reader->ReadRootDirectory(), AAA::InvalidDataException);
    }
}

TEST(ExFatRootDirectory, RootRunningOffTheDeviceIsReadUpToItsEnd) {
    TempDir dir;
    ExFatImageBuilder image;
    const auto path = Write(image, dir);
    std::filesystem::resize_file(path, image.ClusterOffset(image.RootCluster()) + 64);
    auto reader = MakeReader(path);
    ASSERT_TRUE(reader->Open());
    reader->ReadRootDirectory();
    EXPECT_EQ(reader->rootDirectory.StoredCount(), 2u);
    EXPECT_EQ(reader->foldersPastEnd, 1);
}

TEST(ExFatRootDirectory, HoldsTheVolumeEntries) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("A.TXT", "hello");
    auto reader = LoadImage(image, dir);
    const auto& root = reader->rootDirectory;
    ASSERT_GE(root.StoredCount(), 6u);
    std::vector<uint8_t> types;
    for (size_t i = 0; i < root.StoredCount(); ++i)
        types.push_back(root.StoredType(i));
    for (const uint8_t type : {0x81, 0x82, 0x83, 0x85, 0xC0, 0xC1})
        EXPECT_NE(std::find(types.begin(), types.end(), type), types.end()) << int(type);
}

TEST(ExFatFoundFolders, AFoundFolderAddsOnlyWhatNoWalkRead) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("DCIM/100CDPFP/IMGA0001.JPG", std::string(3000, 'j'));
    const uint64_t offset = image.ClusterOffset(image.Describe("DCIM/100CDPFP").firstCluster);
    auto walked = LoadImage(image, dir);
    DirEntry root;
    walked->BuildTree(root);
    uint64_t size = 0;
    EXPECT_EQ(walked->AddFoundDirectory(root, offset, size), 0) << "the walk read this folder";

    auto unwalked = LoadImage(image, dir, "again.img");
    std::vector<uint8_t> cluster(4096);
    unwalked->stream->Seek(static_cast<int64_t>(offset), AAA::SeekBegin);
    unwalked->stream->Read(cluster.data(), 4096);
    EXPECT_TRUE(unwalked->BeginsFolder(cluster.data(), cluster.size(), offset));
    cluster[2] ^= 1; // SetChecksum off by one bit
    EXPECT_FALSE(unwalked->BeginsFolder(cluster.data(), cluster.size(), offset));
    DirEntry fresh;
    EXPECT_EQ(unwalked->AddFoundDirectory(fresh, offset, size), 1);
    ASSERT_EQ(fresh.children.size(), 1u);
    EXPECT_EQ(fresh.children[0].name, AAA::FromUtf8(std::to_string(offset / 512) + ".dir"));
    EXPECT_TRUE(fresh.children[0].fromFoundFolder && fresh.children[0].children.at(0).fromFoundFolder);
}

TEST(ExFatUnsupported, FirstCluster) {
    TempDir dir;
    ExFatImageBuilder image;
    auto reader = LoadImage(image, dir);
    LogCapture log;
    FSAccessLib::ExFAT::FileDirectoryEntry record;
    EXPECT_THROW(reader->FirstCluster(record), AAA::MakerModelException);
    EXPECT_TRUE(log.Contains("unused function"));
}

// ---- Volumes made by mkfs.exfat ---------------------------------------------------------------------

std::string Mkfs() {
    for (const char* candidate : {"/usr/sbin/mkfs.exfat", "/sbin/mkfs.exfat", "/usr/bin/mkfs.exfat"})
        if (std::filesystem::exists(candidate))
            return candidate;
    return {};
}

uint64_t LeAt(const std::string& bytes, size_t offset, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;)
        value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    return value;
}

TEST(ExFatMkfsVolume, OpensReadsTheTableAndAnEmptyRoot) {
    const std::string mkfs = Mkfs();
    if (mkfs.empty())
        GTEST_SKIP() << "mkfs.exfat not installed";
    struct Case {
        uint64_t bytes;
        const char* options;
    };
    for (const Case& c : {Case{64ull << 20, "-c 32K -L CAM"}, Case{300ull << 20, ""}, Case{40ull << 30, "-L BIG"}}) {
        SCOPED_TRACE(c.bytes);
        TempDir dir;
        const auto path = dir / "mkfs.img";
        { std::ofstream(path.string()); }
        std::filesystem::resize_file(path, c.bytes);
        const std::string command = mkfs + " " + c.options + " '" + path.string() + "' > /dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        std::string boot(512, '\0');
        std::ifstream(path.string(), std::ios::binary).read(boot.data(), 512);
        auto reader = MakeReader(path);
        ASSERT_TRUE(reader->Open());
        const uint64_t sectorShift = static_cast<uint8_t>(boot[108]);
        const uint64_t clusterShift = static_cast<uint8_t>(boot[109]);
        EXPECT_EQ(reader->sectorSize, 1u << sectorShift);
        EXPECT_EQ(reader->clusterSize, 1u << (sectorShift + clusterShift));
        EXPECT_EQ(reader->totalBytes, c.bytes);
        EXPECT_EQ(reader->startOfFat, LeAt(boot, 80, 4) << sectorShift);
        EXPECT_EQ(reader->startOfDataArea, LeAt(boot, 88, 4) << sectorShift);
        EXPECT_EQ(reader->startOfRootDir,
                  ((LeAt(boot, 96, 4) - 2) << (sectorShift + clusterShift)) + (LeAt(boot, 88, 4) << sectorShift));

        reader->ReadAllocationTable();
        EXPECT_EQ(reader->clusterLimit, LeAt(boot, 92, 4) + 2);
        EXPECT_EQ(reader->fat.Entry.Value(0), 0xFFFFFFF8u);
        EXPECT_EQ(reader->fat.Entry.Value(1), 0xFFFFFFFFu);

        reader->ReadRootDirectory();
        bool bitmap = false, upCase = false;
        for (size_t i = 0; i < reader->rootDirectory.StoredCount(); ++i) {
            bitmap |= reader->rootDirectory.StoredType(i) == 0x81;
            upCase |= reader->rootDirectory.StoredType(i) == 0x82;
        }
        EXPECT_TRUE(bitmap && upCase);
        // The root's own chain ends properly in the table mkfs wrote.
        DirEntry rootEntry;
        rootEntry.firstCluster = static_cast<uint32_t>(LeAt(boot, 96, 4));
        reader->BuildDataChain(rootEntry);
        EXPECT_FALSE(rootEntry.chainBroken);
        ASSERT_FALSE(rootEntry.chain.empty());
        EXPECT_EQ(rootEntry.chain.front().start, reader->startOfRootDir);

        DirEntry root;
        EXPECT_EQ(reader->BuildTree(root), 0);
        EXPECT_TRUE(root.children.empty());
    }
}

} // namespace
