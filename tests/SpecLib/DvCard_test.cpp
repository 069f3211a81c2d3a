// DV clips on quick-formatted FAT32 cards: the search carves each clip's
// files, the renaming files them as the camcorder did, and the saved files
// equal what the camcorder wrote (the PCM files with their held tail).
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "AAA_Progress.h"
#include "Commands.h"
#include "CopyToDst.h"
#include "DV_Files.h"
#include "DvTestSupport.h"
#include "common/LogCapture.h"
#include "FSSpecFAT32.h"
#include "SearchTestSupport.h"
#include "SectorSearch.h"
#include "support/FatImageBuilder.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace SearchTest;
using namespace TestSupport;
using FSAccessLib::DirEntry;
using enum DvGapPlace;

// Path: length and digest of the bytes, so that a difference reads short.
using Files = std::map<std::string, std::string>;

std::string Digest(const std::string& bytes) {
    return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>{}(bytes));
}

// What the camcorder wrote for a clip named `base`.
Files ClipFiles(const DvClipLayout& clip, const std::string& base) {
    Files files = DvClipSavedFiles(clip, base);
    for (auto& [path, bytes] : files)
        bytes = Digest(bytes);
    return files;
}

struct Card {
    uint64_t bytes = 64 << 20;
    const char* sectorsPerCluster = "1";
    uint64_t firstClipAt = 0x100000; // from the data area
};

class DvCard : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFatTools())
            GTEST_SKIP() << "mkfs.fat and mtools are needed";
    }
    void TearDown() override { Restore::SetProgressTotal(0); }

    // Formats the card, writes the clips one after the other into its data
    // area, and quick-formats it again.
    void MakeCard(const std::vector<DvClipLayout>& clips, const Card& shape = Card()) {
        ImageWriter(image, shape.bytes);
        ASSERT_EQ(MkfsFat(image, {"-F", "32", "-s", shape.sectorsPerCluster}).exitCode, 0);
        uint64_t at = 0;
        {
            FSAccessLib::FAT32::FSAccessFAT32 card(AAA::FromUtf8(image.string()));
            ASSERT_TRUE(card.Open());
            at = card.startOfDataArea + shape.firstClipAt;
        }
        for (const DvClipLayout& clip : clips) {
            PutDvClip(image, at, clip);
            at += clip.span;
        }
        ASSERT_EQ(MkfsFat(image, {"-F", "32", "-s", shape.sectorsPerCluster}).exitCode, 0);
    }

    // As a recovery does: search, select the carved files, rename, save.
    Files Recover() {
        FSAccessLib::FAT32::FSAccessFAT32 card(AAA::FromUtf8(image.string()));
        EXPECT_TRUE(card.Open());
        card.ReadAllocationTable();
        card.ReadRootDirectory();
        DirEntry root;
        EXPECT_EQ(card.BuildTree(root), 0) << "the format left no file";
        Kalvory::SectorSearcher(card, root).Run();
        for (DirEntry& entry : root.children)
            entry.target = entry.carved && entry.length != 0 && entry.name[0] != u'.';
        Kalvory::RenameFormattedDvFiles(root);
        const fs::path out = dir / "out";
        fs::create_directory(out);
        FSAccessLib::CommandCopyToDst copy(AAA::FromUtf8(out.string()), card.stream.get(), card.totalBytes);
        root.Apply(copy);
        Files saved;
        for (const auto& file : fs::recursive_directory_iterator(out))
            if (file.is_regular_file())
                saved[fs::relative(file.path(), out).generic_string()] = Digest(ReadFileBytes(file.path()));
        return saved;
    }

    TempDir dir{"kalvory-dvcard"};
    fs::path image = dir / "card.img";
};

TEST_F(DvCard, NtscClipComesBackByteForByte) {
    const DvClipLayout clip = WriteDvClip(
        {.system = DvVideoSystem::Ntsc, .frames = 80, .gaps = {{FrameStart, 1}, {DifSequence, 2}, {LastDifSequence, 1}, {Audio, 2}}});
    MakeCard({clip});
    EXPECT_EQ(Recover(), ClipFiles(clip, "001XX00"));
}

// The first clip met an XML unit inside a gap: the second is its next part.
TEST_F(DvCard, PalClipAfterAMarkedOneIsItsNextPart) {
    const DvClipLayout first = WriteDvClip({.system = DvVideoSystem::Pal,
                                            .frames = 70,
                                            .gaps = {{FirstJunk, 1}, {Audio, 2, DvXmlInGap::First}},
                                            .seed = 1});
    const DvClipLayout second = WriteDvClip({.system = DvVideoSystem::Pal,
                                             .frames = 70,
                                             .audioRate = 32000,
                                             .gaps = {{AudioChunk, 1}, {SecondJunk, 1}},
                                             .seed = 2});
    MakeCard({first, second});
    Files expected = ClipFiles(first, "001XX00");
    expected.merge(ClipFiles(second, "001XX01"));
    EXPECT_EQ(Recover(), expected);
}

// 4 KiB clusters, the first clip's icon in the last 64 KiB of the scan's
// sixth 1 MiB read, where a small read once met bytes of an older one.
TEST_F(DvCard, ClipsBehindALargeReadComeBackWhole) {
    const Card card{uint64_t{512} << 20, "8", 6 * 0x100000 - 0x8000};
    const DvClipLayout marked = WriteDvClip({.system = DvVideoSystem::Ntsc,
                                             .frames = 80,
                                             .gaps = {{FrameStart, 1}, {Audio, 2, DvXmlInGap::First}},
                                             .seed = 4});
    const DvClipLayout next = WriteDvClip(
        {.system = DvVideoSystem::Ntsc, .frames = 40, .gaps = {{DifSequence, 2}, {Audio, 1}}, .seed = 5});
    MakeCard({marked, next}, card);
    Files expected = ClipFiles(marked, "001XX00");
    expected.merge(ClipFiles(next, "001XX01"));
    EXPECT_EQ(Recover(), expected) << "NTSC, two clips, the first marked";

    const DvClipLayout pal =
        WriteDvClip({.system = DvVideoSystem::Pal, .frames = 70, .audioRate = 32000, .gaps = {{AudioChunk, 1}, {SecondJunk, 1}}, .seed = 6});
    fs::remove_all(dir / "out");
    MakeCard({pal}, card);
    EXPECT_EQ(Recover(), ClipFiles(pal, "001XX00")) << "PAL, one clip with its audio";
}

// The directory still names the deleted AVI (no chain): the clip handler
// gives it the clip's extents, and its length stays the directory's.
TEST_F(DvCard, DeletedAviGetsTheClipsExtents) {
    const DvClipLayout clip = WriteDvClip({.system = DvVideoSystem::Ntsc, .frames = 40, .gaps = {{DifSequence, 2}, {Audio, 1}}});
    const uint64_t dirLength = clip.aviFile.size() - 100000; // shorter than the clip's last extent
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat32));
    const FatEntryId avi = builder.AddFile("CLIP.AVI", std::string(512, 'x'),
                                           {.clusters = {20000}, .sizeField = static_cast<uint32_t>(dirLength)});
    builder.DeleteEntry("CLIP.AVI");
    const FatImage fat = builder.Build();
    fat.WriteTo(image);
    const uint64_t base = fat.Entry(avi).extents.front().offset - clip.aviOffset;
    PutDvClip(image, base, clip);

    FSAccessLib::FAT32::FSAccessFAT32 card(AAA::FromUtf8(image.string()));
    ASSERT_TRUE(card.Open());
    card.ReadAllocationTable();
    card.ReadRootDirectory();
    DirEntry root;
    card.BuildTree(root);
    Kalvory::SectorSearcher(card, root).Run();
    std::ifstream volume(image, std::ios::binary);
    const auto alongChain = [&](const DirEntry& entry) {
        std::string bytes;
        for (const FSAccessLib::DataBlock& block : entry.chain) {
            std::string piece(block.length, '\0');
            volume.seekg(static_cast<std::streamoff>(block.start)).read(piece.data(), static_cast<std::streamsize>(piece.size()));
            bytes += piece;
        }
        return bytes;
    };
    // The deleted AVI, then what the search carved: icon, PCM, PCM, XML.
    ASSERT_EQ(root.children.size(), 5u);
    EXPECT_EQ(root.children[0].length, dirLength);
    EXPECT_TRUE(alongChain(root.children[0]) == clip.aviFile.substr(0, dirLength));
    EXPECT_TRUE(alongChain(root.children[2]) == clip.pcm0File);
    EXPECT_TRUE(alongChain(root.children[3]) == clip.pcm1File);
    EXPECT_EQ(root.children[2].name, root.children[3].name) << "both bear the clip's name";
}

// What the search makes of a clip: its entries only from a clip header,
// PCM entries only from interleaved PCM units; the scan goes on through
// anything else.
TEST(DvSearch, MakesAClipsEntriesFromItsLayout) {
    TempDir dir("kalvory-dvsearch");
    struct Case {
        const char* what;
        bool pcmUnits;
        uint32_t scale, rate; // 0: the system's
        std::vector<std::string> entries; // "XML": the closing XML's name
    };
    const Case cases[] = {
        {"interleaved", true, 0, 0, {"0000000.BMP", "00000801.AVI", "00000801.PCM", "00000801.PCM", "XML"}},
        {"strh 1/30", true, 1, 30, {"0000000.BMP", "XML"}},
        {"not interleaved", false, 0, 0, {"0000000.BMP", "00000801.AVI", "XML"}},
    };
    for (const Case& c : cases) {
        const DvClipLayout clip =
            WriteDvClip({.frames = 3, .pcmUnits = c.pcmUnits, .payload = false, .scale = c.scale, .rate = c.rate});
        const fs::path image = dir / "volume.img";
        ImageWriter(image, clip.span);
        PutDvClip(image, 0, clip);
        RawVolume volume(image);
        DirEntry root;
        KalvoryTest::LogCapture log;
        Kalvory::SectorSearcher(volume, root).Run();
        std::vector<std::string> names;
        for (const DirEntry& entry : root.children)
            names.push_back(AAA::ToUtf8(entry.name));
        char xml[32];
        std::snprintf(xml, sizeof xml, "%07X.XML", static_cast<unsigned>(clip.xml.offset / 512));
        std::vector<std::string> expected = c.entries;
        expected.back() = xml;
        EXPECT_EQ(names, expected) << c.what;
        if (c.pcmUnits && c.scale == 0) {
            // 3 frames of 1601, 1602, 1601 samples; one unit of PCM after the video.
            EXPECT_TRUE(log.Contains("AVI(NTSC)\tdwTotalFrames = 3\n")) << log.Text();
            EXPECT_TRUE(log.Contains("\tdiff = pcm0SizeofTotalBlocks - (pcmDataSize / 2) = 23160 = "
                                     "0x0000000000008000 - (19216 / 2)\n"
                                     "\tpcm0Chain.back().length = pcm0Chain.back().length - diff\t= 32768 - 23160\t= 9608\n"))
                << log.Text();
        }
    }
}

} // namespace
