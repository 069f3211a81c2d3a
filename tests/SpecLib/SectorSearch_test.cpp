// The sector search over raw volumes: what each signature row makes, how the
// scan moves on after a file, and how sectors the tree covers are skipped.
#include <gtest/gtest.h>

#include <random>

#include "Commands.h"
#include "SearchTestSupport.h"
#include "SectorSearch.h"
#include "support/TempDir.h"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;
using Kalvory::SectorSearcher;

struct Carved {
    std::string name;
    uint64_t start;
    uint64_t length;
    bool operator==(const Carved&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Carved& c) {
    return out << c.name << "@" << c.start << "+" << c.length;
}

std::vector<Carved> CarvedUnder(const DirEntry& root) {
    std::vector<Carved> carved;
    for (const DirEntry& child : root.children)
        if (child.carved)
            carved.push_back({AAA::ToUtf8(child.name), child.start, child.length});
    return carved;
}

class SectorSearchTest : public ::testing::Test {
protected:
    std::vector<Carved> Search(uint64_t dataStart = 0) {
        RawVolume volume(image, dataStart);
        SectorSearcher searcher(volume, root);
        made = searcher.Run();
        tested = searcher.SectorsTested();
        queries = searcher.CoverageQueries();
        return CarvedUnder(root);
    }

    TestSupport::TempDir dir{"kalvory-search"};
    fs::path image = dir / "volume.img";
    DirEntry root;
    int made = 0;
    uint64_t tested = 0;
    size_t queries = 0;
};

TEST_F(SectorSearchTest, EachRowNamesItsFileAndTheScanGoesOnAfterIt) {
    ImageWriter card(image, 2 << 20);
    card.Put(10 * 512, ManagementFile("HDMV", 24, 60, 100)); // 28 is 0: the offset at 24 counts
    card.Put(40 * 512, ManagementFile("MPLS", 16, 80, 30));
    card.Put(60 * 512, ManagementFile("INDX", 12, 64, 20));
    card.Put(70 * 512, ManagementFile("MOBJ", 0, 40, 10));    // 8 is 0: fixed offset 40
    card.Put(80 * 512, ManagementFile("TIDX", 0, 40, 700));   // header not read: fixed 40
    std::string bmp(1200, '\0');
    bmp.replace(0, 2, "BM");
    bmp[2] = static_cast<char>(1200 & 0xFF);
    bmp[3] = static_cast<char>(1200 >> 8);
    card.Put(90 * 512, bmp);
    card.Put(100 * 512, ManagementFile("INDX", 12, 64, 20));
    std::string reservedSet = bmp;
    reservedSet[6] = 1; // reserved words not 0: no bitmap
    card.Put(110 * 512, reservedSet);

    const std::vector<Carved> expected = {
        {"0000000A.CPI", 10 * 512, 164}, {"00000028.MPL", 40 * 512, 114}, {"INDEX.BDM", 60 * 512, 88},
        {"MOVIEOBJ.BDM", 70 * 512, 54},  {"THUMB.TID", 80 * 512, 744},    {"000005A.BMP", 90 * 512, 1200},
        {"INDEX.BDM", 100 * 512, 88},
    };
    EXPECT_EQ(Search(), expected);
    EXPECT_EQ(made, 7);
    EXPECT_EQ(tested, (2u << 20) / 512 - 3) << "every sector once, but those inside the icon and the thumbnails";
}

TEST_F(SectorSearchTest, ARowWhoseLengthFailsLeavesTheSectorToTheLaterRows) {
    ImageWriter card(image, 1 << 20);
    // "HDMV" in the first packet's arrival time; its last section lies beyond the volume.
    std::string stream = SourcePackets(40);
    stream.replace(0, 4, "HDMV");
    PutBe32(stream, 24, 0x7FFFFFF0);
    PutBe32(stream, 28, 0);
    card.Put(8 * 512, stream);
    EXPECT_EQ(Search(), (std::vector<Carved>{{"00000008.MTS", 8 * 512, 40 * 192}}));
}

TEST_F(SectorSearchTest, CoveredSectorsAreJumpedToTheFurthestCoveringEnd) {
    ImageWriter card(image, 4 << 20);
    card.Put(12 * 512, ManagementFile("INDX", 12, 64, 20)); // inside a file the tree holds
    card.Put(30 * 512, ManagementFile("INDX", 12, 64, 20));
    DirEntry known("KNOWN", "BIN");
    known.start = 10 * 512;
    known.length = 4 * 512;
    known.chain.emplace_back(10 * 512, 8 * 512, nullptr); // reaches further than another file's extent
    root.children.push_back(known);
    DirEntry other = known;
    other.chain.clear();
    other.start = 11 * 512;
    other.length = 3 * 512;
    root.children.push_back(other);
    root.Relink(nullptr);
    EXPECT_EQ(Search(), (std::vector<Carved>{{"INDEX.BDM", 30 * 512, 88}}));
    EXPECT_LT(queries, 10u) << "the coverage index is asked per stretch, not per sector";
}

TEST_F(SectorSearchTest, AFileEndingPastItsChunkIsFollowedByAFreshRead) {
    ImageWriter card(image, 4 << 20);
    const uint32_t bmpBytes = 300000;
    std::string bmp(bmpBytes, '\0');
    bmp.replace(0, 2, "BM");
    for (int i = 0; i < 4; ++i)
        bmp[2 + i] = static_cast<char>(bmpBytes >> (8 * i));
    card.Put(2040 * 512, bmp);
    const uint64_t after = (2040 * 512 + bmpBytes + 511) / 512 * 512;
    card.Put(after, ManagementFile("INDX", 12, 64, 20));
    const std::vector<Carved> carved = Search();
    ASSERT_EQ(carved.size(), 2u);
    EXPECT_EQ(carved[1], (Carved{"INDEX.BDM", after, 88}));
}

TEST_F(SectorSearchTest, SectorNumbersPastSevenDigitsMakeLongerNames) {
    const uint64_t dataStart = 0x10000000ull * 512;
    ImageWriter card(image, dataStart + (64 << 10));
    std::string bmp(600, '\0');
    bmp.replace(0, 2, "BM");
    bmp[2] = static_cast<char>(600 & 0xFF);
    bmp[3] = static_cast<char>(600 >> 8);
    card.Put(dataStart, bmp);
    EXPECT_EQ(Search(dataStart), (std::vector<Carved>{{"10000000.BMP", dataStart, 600}}));
}

TEST_F(SectorSearchTest, LengthsTheMediumCannotHoldMakeNoFile) {
    const uint64_t size = 64 * 512 + 40;
    ImageWriter card(image, size);
    std::string bmp(20, '\0');
    bmp.replace(0, 2, "BM");
    PutBe32(bmp, 2, 0x00FFFFFF); // little-endian 0xFFFFFF00: past the volume
    card.Put(4 * 512, bmp);
    // A header cut off by the end of the medium: 40 of its 64 bytes exist.
    card.Put(64 * 512, ManagementFile("INDX", 12, 16, 8).substr(0, 40));
    EXPECT_TRUE(Search().empty());
}

// The cursor's answer equals the tree walk's at every offset, while entries
// keep being appended ahead of the scan.
TEST(CoverageCursor, AnswersLikeTheDataBlockSearchWhileEntriesAreAppended) {
    std::mt19937_64 random(11);
    for (int round = 0; round < 20; ++round) {
        DirEntry root;
        const auto addFile = [&](uint64_t from) {
            DirEntry file("F", "BIN");
            file.start = from + random() % 4000;
            file.length = random() % 900;
            for (uint64_t n = random() % 3; n-- > 0;)
                file.chain.emplace_back(file.start + random() % 3000, random() % 700, nullptr);
            root.children.push_back(file);
            root.Relink(nullptr);
        };
        for (int i = 0; i < 30; ++i)
            addFile(0);
        Kalvory::CoverageCursor cursor(root);
        for (uint64_t offset = 0; offset < 6000; offset += 1 + random() % 7) {
            if (random() % 40 == 0) {
                const size_t before = root.children.size();
                addFile(offset);
                cursor.ChildrenAppended(before);
            }
            FSAccessLib::CommandSearchExistingDataBlock command(offset);
            root.Apply(command);
            uint64_t end = 0;
            ASSERT_EQ(cursor.Covered(offset, end), command.found != nullptr) << round << " " << offset;
            ASSERT_EQ(end, command.foundEnd) << round << " " << offset;
        }
    }
}

} // namespace
