// A stream of more than 4 GiB on an SDXC card, carved at its whole length.
// Writing 4 GiB takes seconds; the sanitizer builds leave it to the plain one.
#include <gtest/gtest.h>

#include <fstream>

#include "FSSpecExFAT.h"
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

TEST(LargeStream, AStreamPastFourGiBIsCarvedAtItsFullLength) {
    if (kSanitized)
        GTEST_SKIP() << "4 GiB of packets: left to the plain build";
    const auto mkfs = TestSupport::FindTool("mkfs.exfat");
    if (!mkfs)
        GTEST_SKIP() << "mkfs.exfat is needed";
    TestSupport::TempDir dir("kalvory-large");
    const fs::path image = dir / "sdxc.img";
    // 22,369,623 packets: past 2^32 bytes, and the last one inside a sector.
    const uint64_t packets = 22369623;
    const uint64_t bytes = packets * 192;
    ASSERT_GT(bytes, 1ull << 32);
    TestSupport::ExFatImageBuilder card({.volumeBytes = 6ull << 30});
    card.AddFile("BIG.MTS", "", {.noFatChain = true, .dataLength = bytes});
    const uint64_t start = card.Describe("BIG.MTS").extents.front().offset;
    card.WriteTo(image);
    {
        std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(start));
        const size_t perPiece = 1 << 16;
        for (uint64_t first = 0; first < packets; first += perPiece) {
            const size_t count = static_cast<size_t>(std::min<uint64_t>(perPiece, packets - first));
            const std::string piece = SourcePackets(count, static_cast<uint32_t>(1000 + first * 2256));
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        }
    }
    ASSERT_EQ(TestSupport::RunCommand({*mkfs, image.string()}).exitCode, 0);

    FSAccessLib::ExFAT::FSAccessExFAT reader(AAA::FromUtf8(image.string()));
    ASSERT_TRUE(reader.Open());
    reader.ReadAllocationTable();
    reader.ReadRootDirectory();
    FSAccessLib::DirEntry root;
    Kalvory::SectorSearcher(reader, root).Run();
    const FSAccessLib::DirEntry* stream = nullptr;
    for (const auto& child : root.children)
        if (child.start == start)
            stream = &child;
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->length, bytes);
    Restore::SetProgressTotal(0);
}

} // namespace
