// Transport streams: the window check, where a carved stream ends, whether it
// is worth recovering, and where carved streams are filed.
#include <gtest/gtest.h>

#include "AVCHD_Files.h"
#include "AAA_Stream.h"
#include "SearchTestSupport.h"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;

std::string Packet(uint32_t ats, uint8_t sync = 0x47) {
    std::string packet = SourcePackets(1, ats);
    PutBe32(packet, 0, ats);
    packet[4] = static_cast<char>(sync);
    return packet;
}

TEST(CheckSourcePackets, JudgesTheStepFromTheSecondPacketToTheThird) {
    struct Case {
        const char* what;
        uint32_t a, b, c;
        bool first;
        uint8_t sync;
        bool passes;
    };
    const Case cases[] = {
        {"rising", 10, 20, 30, true, 0x47, true},
        {"first window may start at 0", 0, 20, 30, true, 0x47, true},
        {"0 later ends the stream", 0, 20, 30, false, 0x47, false},
        {"0 in the middle", 10, 0, 30, true, 0x47, false},
        {"equal times jumped", 10, 20, 20, false, 0x47, false},
        {"wrap with a small gap", 0x3FFFFF00, 0x3FFFFFF0, 0x100, false, 0x47, true},
        {"wrap with too large a gap", 0x3FFFFF00, 0x3FFFFFF0, 0x200000, false, 0x47, false},
        {"backwards without a wrap", 30, 20, 10, false, 0x47, false},
        {"no sync byte", 10, 20, 30, false, 0x00, false},
    };
    for (const Case& c : cases) {
        const std::string k0 = Packet(c.a), k1 = Packet(c.b), k2 = Packet(c.c, c.sync);
        EXPECT_EQ(Kalvory::CheckSourcePackets(reinterpret_cast<const uint8_t*>(k0.data()),
                                              reinterpret_cast<const uint8_t*>(k1.data()),
                                              reinterpret_cast<const uint8_t*>(k2.data()), c.first),
                  c.passes)
            << c.what;
    }
}

uint64_t LengthOf(const std::string& bytes) {
    AAA::MemoryStream stream(bytes.data(), bytes.size());
    std::vector<uint8_t> buffer;
    return Kalvory::MtsLength(stream, 0, 512, buffer);
}

TEST(MtsLength, EndsBeforeTheFirstPacketNotAccepted) {
    struct Case {
        const char* what;
        std::string bytes;
        uint64_t length;
    };
    std::string zeroInside = SourcePackets(30);
    PutBe32(zeroInside, 20 * 192, 0);
    std::string firstAtZero = SourcePackets(31, 0);
    const Case cases[] = {
        // Packet 10 fails; the middle packet 9 lies wholly inside a sector.
        {"a stream of ten", SourcePackets(10) + std::string(600, '\0'), 10 * 192},
        // Packet 9 fails; the middle packet 8 starts on a sector boundary and goes too.
        {"a middle packet on a sector boundary", SourcePackets(9) + std::string(600, '\0'), 8 * 192},
        {"time 0 at the start", firstAtZero + std::string(600, '\0'), 31 * 192},
        {"time 0 inside", zeroInside, 20 * 192},
        {"too short for a window", SourcePackets(2) + std::string(100, '\0'), 0},
        // The medium ends inside packet 12: it is never taken as whole.
        {"cut by the end of the medium", SourcePackets(13).substr(0, 12 * 192 + 100), 12 * 192},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LengthOf(c.bytes), c.length) << c.what;
}

TEST(MtsLength, WindowsAcrossTwoReadsAreNotJudged) {
    // 12,288 packets fill one read; a time step backwards between the reads is not seen.
    const size_t perRead = Kalvory::kStreamReadBytes / 192;
    std::string bytes = SourcePackets(perRead) + SourcePackets(100, 5);
    EXPECT_EQ(LengthOf(bytes), (perRead + 100) * 192);
}

TEST(IsPlausibleMts, LongEnoughAndItsFirstBytesReadable) {
    const std::string medium(Kalvory::kSmallestPlausibleStream + 10, 'x');
    AAA::MemoryStream stream(medium.data(), medium.size());
    EXPECT_FALSE(Kalvory::IsPlausibleMts(stream, 0, Kalvory::kSmallestPlausibleStream - 1));
    EXPECT_TRUE(Kalvory::IsPlausibleMts(stream, 0, Kalvory::kSmallestPlausibleStream));
    EXPECT_FALSE(Kalvory::IsPlausibleMts(stream, 20, Kalvory::kSmallestPlausibleStream)) << "runs off the medium";
}

DirEntry CarvedFile(const std::u16string& name) {
    DirEntry file("", "");
    file.name = name;
    file.carved = true;
    file.target = true;
    file.length = 1;
    return file;
}

const DirEntry* Find(const DirEntry& folder, const std::u16string& name) {
    for (const DirEntry& child : folder.children)
        if (child.name == name)
            return &child;
    return nullptr;
}

TEST(RenameAndMoveAvchdFiles, StreamsAreNumberedIntoStreamAfterTheNamesThere) {
    DirEntry root;
    DirEntry privateFolder;
    privateFolder.name = u"PRIVATE";
    DirEntry stream;
    stream.name = u"STREAM";
    DirEntry existing("00000", "MTS");
    stream.children.push_back(existing);
    privateFolder.children.push_back(stream);
    root.children.push_back(privateFolder);
    for (const char16_t* name : {u"00001000.MTS", u"00002000.CPI", u"INDEX.BDM", u"00003000.MTS", u"THUMB.TID"})
        root.children.push_back(CarvedFile(name));
    root.Relink(nullptr);

    Kalvory::RenameAndMoveAvchdFiles(root);

    const DirEntry& folder = root.children[0].children[0];
    ASSERT_EQ(folder.name, u"STREAM");
    ASSERT_EQ(folder.children.size(), 3u);
    EXPECT_EQ(folder.children[1].name, u"00001.MTS");
    EXPECT_EQ(folder.children[2].name, u"00002.MTS");
    EXPECT_TRUE(folder.children[1].target && folder.children[2].target);
    for (size_t i = 1; i < root.children.size(); ++i)
        EXPECT_FALSE(root.children[i].target) << AAA::ToUtf8(root.children[i].name);
    const DirEntry* made = Find(root, u"PRIVATE");
    ASSERT_NE(made, nullptr);
    EXPECT_NE(Find(*made, u"AVCHD"), nullptr) << "the AVCHD tree is made where it is missing";
}

TEST(RenameAndMoveAvchdFiles, AStreamWithNoNameLeftKeepsItsOwnAndStaysSelected) {
    DirEntry root;
    root.children.push_back(CarvedFile(u"00001000.MTS"));
    root.Relink(nullptr);
    Kalvory::RenameAndMoveAvchdFiles(root);
    DirEntry* stream = &root.children[1].children[0].children[0].children[0];
    ASSERT_EQ(stream->name, u"STREAM");
    EXPECT_EQ(stream->children.size(), 1u);
    for (uint32_t n = 1; n <= 99999; ++n)
        stream->children.push_back(CarvedFile(AAA::FromUtf8(std::to_string(100000 + n).substr(1) + ".MTS")));
    root.children.push_back(CarvedFile(u"00009000.MTS"));
    root.Relink(nullptr);
    Kalvory::RenameAndMoveAvchdFiles(root);
    EXPECT_EQ(root.children.back().name, u"00009000.MTS");
    EXPECT_TRUE(root.children.back().target);
}

} // namespace
