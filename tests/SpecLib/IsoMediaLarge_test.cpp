// A clip of more than 4 GiB on an SDXC card: its mdat's size in the 64-bit
// field, its chunk offsets in co64. Carved at its whole length and found
// whole by its sample tables. Sparse; the sanitizer builds leave it to the
// plain one.
#include <gtest/gtest.h>

#include <fstream>

#include "FSSpecExFAT.h"
#include "ISOBMFF_Fragments.h"
#include "SearchTestSupport.h"
#include "SectorSearch.h"
#include "support/ExFatImageBuilder.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace SearchTest;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::string Be(uint64_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

std::string Box(const std::string& type, const std::string& payload) { return Be(8 + payload.size(), 4) + type + payload; }

// Version and flags, then the fields.
std::string FullBox(const std::string& type, const std::string& fields) { return Box(type, std::string(4, '\0') + fields); }

// An H.264 sample: one IDR slice of `bytes` after its 4-byte length.
std::string Sample(uint32_t bytes) { return Be(bytes, 4) + "\x65" + std::string(bytes - 1, '\x11'); }

// One H.264 track of samples at `offsets` (one a chunk) of `sizes`.
std::string Moov(const std::vector<uint64_t>& offsets, const std::vector<uint32_t>& sizes) {
    const std::string avcC = Box("avcC", std::string("\x01\x64\x00\x28\xFF\xE0\x00", 7));
    const std::string avc1 = Box("avc1", std::string(78, '\0') + avcC);
    std::string stsz = Be(0, 4) + Be(sizes.size(), 4), co64 = Be(offsets.size(), 4);
    for (uint32_t size : sizes)
        stsz += Be(size, 4);
    for (uint64_t offset : offsets)
        co64 += Be(offset, 8);
    const std::string stbl = Box("stbl", FullBox("stsd", Be(1, 4) + avc1) + FullBox("stsz", stsz) +
                                             FullBox("stsc", Be(1, 4) + Be(1, 4) + Be(1, 4) + Be(1, 4)) +
                                             FullBox("co64", co64));
    const std::string hdlr = FullBox("hdlr", Be(0, 4) + "vide" + std::string(13, '\0'));
    const std::string mdia = Box("mdia", FullBox("mdhd", std::string(20, '\0')) + hdlr + Box("minf", stbl));
    return Box("moov", FullBox("mvhd", std::string(96, '\0')) + Box("trak", FullBox("tkhd", std::string(80, '\0')) + mdia));
}

TEST(LargeIsoMedia, AClipPastFourGiBIsCarvedWholeAtItsFullLength) {
    if (kSanitized)
        GTEST_SKIP() << "4 GiB of clusters: left to the plain build";
    const auto mkfs = TestSupport::FindTool("mkfs.exfat");
    if (!mkfs)
        GTEST_SKIP() << "mkfs.exfat is needed";
    TestSupport::TempDir dir("kalvory-large-iso");
    const fs::path image = dir / "sdxc.img";
    const std::string ftyp = Box("ftyp", std::string("XAVC\0\0\0\0XAVCmp42", 16));
    const uint64_t mdatBytes = (9ull << 29) + 12345; // past 4 GiB, not on a cluster's edge
    const uint64_t data = ftyp.size() + 16;          // after the 64-bit mdat header
    const std::vector<uint64_t> offsets{data, data + 5000, ftyp.size() + mdatBytes - 3000};
    const std::vector<uint32_t> sizes{4000, 2000, 3000};
    const std::string moov = Moov(offsets, sizes);
    const uint64_t length = ftyp.size() + mdatBytes + moov.size();
    TestSupport::ExFatImageBuilder card({.volumeBytes = 6ull << 30});
    card.AddFile("C0001.MP4", "", {.noFatChain = true, .dataLength = length});
    const uint64_t start = card.Describe("C0001.MP4").extents.front().offset;
    card.WriteTo(image);
    {
        std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
        const auto put = [&](uint64_t at, const std::string& bytes) {
            out.seekp(static_cast<std::streamoff>(start + at));
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        };
        put(0, ftyp + std::string("\0\0\0\1mdat", 8) + Be(mdatBytes, 8));
        for (size_t i = 0; i < offsets.size(); ++i)
            put(offsets[i], Sample(sizes[i] - 4));
        put(ftyp.size() + mdatBytes, moov);
    }
    ASSERT_EQ(TestSupport::RunCommand({*mkfs, image.string()}).exitCode, 0);

    FSAccessLib::ExFAT::FSAccessExFAT reader(AAA::FromUtf8(image.string()));
    ASSERT_TRUE(reader.Open());
    reader.ReadAllocationTable();
    reader.ReadRootDirectory();
    FSAccessLib::DirEntry root;
    Kalvory::SectorSearcher(reader, root).Run();
    FSAccessLib::DirEntry* clip = nullptr;
    for (auto& child : root.children)
        if (child.start == start)
            clip = &child;
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->length, length);
    EXPECT_EQ(Kalvory::StitchIsoMedia(*reader.stream, reader, *clip, Kalvory::ClipLength::FromBoxes),
              Kalvory::IsoMediaFragments::Whole);
    EXPECT_EQ(clip->length, length);
    EXPECT_FALSE(clip->partial);
    Restore::SetProgressTotal(0);
}

} // namespace
