// The walk of an ISO media file's top-level boxes (MP4, MOV, XAVC S), as the
// carving row measures a clip, and the ftyp brands it knows cameras by.
#include <gtest/gtest.h>

#include "ISOBMFF_Boxes.h"
#include "M4ROOT_Sidecars.h"
#include "support/MediaSamples.h"

namespace {

using TestSupport::PutBe32;

std::string Box(const std::string& type, const std::string& payload) {
    std::string box(4, '\0');
    PutBe32(box, 0, static_cast<uint32_t>(8 + payload.size()));
    return box + type + payload;
}

std::string Ftyp(const std::string& brand) { return Box("ftyp", brand + std::string(4, '\0') + brand + "isom"); }

// An mdat of `size` bytes in all, its size in the 64-bit field.
std::string LargeMdatHeader(uint64_t size) {
    std::string box("\0\0\0\1mdat", 8);
    for (int i = 7; i >= 0; --i)
        box += static_cast<char>(size >> (8 * i));
    return box;
}

uint64_t LengthOf(const std::string& bytes) {
    AAA::MemoryStream stream(bytes.data(), bytes.size());
    return Kalvory::IsoMediaLength(stream, 0);
}

TEST(IsoMediaBoxes, TheWalkEndsAtTheLastTopLevelBoxAndNeedsAMoov) {
    const std::string moov = Box("moov", Box("mvhd", std::string(100, '\0')));
    const std::string mdat = Box("mdat", std::string(1000, '\x55'));
    const std::string wide = LargeMdatHeader(16 + 3000) + std::string(3000, '\x66');
    EXPECT_EQ(LengthOf(Ftyp("XAVC") + mdat + moov + "trailing bytes"), Ftyp("XAVC").size() + mdat.size() + moov.size());
    EXPECT_EQ(LengthOf(Ftyp("mp42") + Box("free", "") + wide + moov), 24 + 8 + wide.size() + moov.size());
    EXPECT_EQ(LengthOf(Ftyp("isom") + moov + Box("uuid", std::string(20, '\1')) + mdat),
              24 + moov.size() + 28 + mdat.size());
    EXPECT_EQ(LengthOf(Ftyp("XAVC") + Box("free", "") + Box("wide", "")), 0u) << "no moov, no mdat";
    // An mdat whose end holds other data (or none): the file's start only, for the fragment step.
    EXPECT_EQ(LengthOf(Ftyp("XAVC") + mdat), 24u + 8);
    EXPECT_EQ(LengthOf(Ftyp("XAVC") + mdat.substr(0, 500) + std::string(2000, '\x12')), 24u + 8);
    EXPECT_EQ(LengthOf(Ftyp("XAVC") + std::string("\0\0\0\0mdat", 8) + moov), 0u) << "a size to the end";
    EXPECT_FALSE(Kalvory::IsIsoMediaStart(reinterpret_cast<const uint8_t*>(Box("ftyp", "zzzz0000").data()), 16));
    for (const char* brand : {"XAVC", "mp41", "mp42", "isom", "qt  ", "CAEP", "avc1", "iso4", "MSNV", "3gp4"}) {
        const std::string head = Ftyp(brand);
        EXPECT_TRUE(Kalvory::IsIsoMediaStart(reinterpret_cast<const uint8_t*>(head.data()), head.size())) << brand;
    }
}

uint64_t MetaLength(const std::string& bytes) {
    AAA::MemoryStream stream(bytes.data(), bytes.size());
    return Kalvory::ClipMetaLength(stream, 0);
}

TEST(ClipMetaLength, TheDocumentEndsAfterItsEndTagAndLineEnd) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NonRealTimeMeta ver=\"2\">";
    const std::string end = "</NonRealTimeMeta>";
    EXPECT_EQ(MetaLength(head + end + "\r\n" + std::string(900, '\0')), head.size() + end.size() + 2);
    EXPECT_EQ(MetaLength(head + end + std::string(900, 'x')), head.size() + end.size());
    // The end tag across two of the blocks it is read in.
    const std::string across = head + std::string(1024 - head.size() - 5, ' ') + end + "\n";
    EXPECT_EQ(MetaLength(across + std::string(100, '\0')), across.size());
    EXPECT_EQ(MetaLength(head + std::string(2000, ' ')), 0u) << "no end tag";
    EXPECT_EQ(MetaLength("<?xml version=\"1.0\"?>\n<Q7Main>" + end), 0u) << "another document";
}

} // namespace
