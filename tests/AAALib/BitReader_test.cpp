#include "AAA_BitReader.h"

#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "AAA_Exceptions.h"
#include "LogCapture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBits(AAA::BitReader& reader, uint32_t bits) {
    Bytes out((bits + 7) / 8, 0xEE);
    reader.Read(bits, out);
    return out;
}

// The value of `bits` bits starting at bit `start`, most significant bit first.
Bytes Reference(const Bytes& data, uint64_t start, uint32_t bits) {
    Bytes out((bits + 7) / 8, 0);
    for (uint32_t k = 0; k < bits; ++k) {
        const uint64_t source = start + k;
        const int bit = (data[source / 8] >> (7 - source % 8)) & 1;
        const uint32_t target = static_cast<uint32_t>(out.size() * 8 - bits + k);
        out[target / 8] |= static_cast<uint8_t>(bit << (7 - target % 8));
    }
    return out;
}

TEST(BitReader, WholeBytesComeInStreamOrder) {
    AAA::MemoryStream stream(Bytes{0x12, 0x34});
    AAA::BitReader reader(stream);
    EXPECT_EQ(ReadBits(reader, 16), (Bytes{0x12, 0x34}));
    EXPECT_EQ(reader.BitsConsumed(), 16u);
}

TEST(BitReader, PartialReadsAreRightAligned) {
    AAA::MemoryStream stream(Bytes{0x12, 0x34});
    AAA::BitReader reader(stream);
    EXPECT_EQ(ReadBits(reader, 4), (Bytes{0x01}));
    EXPECT_EQ(ReadBits(reader, 12), (Bytes{0x02, 0x34}));
}

TEST(BitReader, ThreeFiveEightConsumeExactlyTwoBytes) {
    AAA::MemoryStream stream(Bytes{0b101'10011, 0xC3, 0x77});
    AAA::BitReader reader(stream);
    EXPECT_EQ(ReadBits(reader, 3), (Bytes{0b101}));
    EXPECT_EQ(ReadBits(reader, 5), (Bytes{0b10011}));
    EXPECT_EQ(ReadBits(reader, 8), (Bytes{0xC3}));
    EXPECT_EQ(stream.Seek(0, AAA::SeekCurrent), 2);
}

TEST(BitReader, ZeroBitsReadNothing) {
    AAA::MemoryStream stream(Bytes{0xAB});
    AAA::BitReader reader(stream);
    Bytes untouched{0x55};
    reader.Read(0, untouched);
    EXPECT_EQ(untouched, (Bytes{0x55}));
    EXPECT_EQ(reader.BitsConsumed(), 0u);
    EXPECT_EQ(stream.Seek(0, AAA::SeekCurrent), 0);
}

TEST(BitReader, ArbitraryLengthsMatchBitByBitExtraction) {
    std::mt19937 random(11);
    Bytes data(4096);
    for (uint8_t& byte : data)
        byte = static_cast<uint8_t>(random());
    AAA::MemoryStream stream(data);
    AAA::BitReader reader(stream);
    uint64_t position = 0;
    while (true) {
        const uint32_t bits = static_cast<uint32_t>(random() % 70 + 1);
        if (position + bits > data.size() * 8)
            break;
        ASSERT_EQ(ReadBits(reader, bits), Reference(data, position, bits)) << "at bit " << position << ", " << bits;
        position += bits;
        ASSERT_EQ(reader.BitsConsumed(), position);
    }
}

TEST(BitReader, AlignedBulkReadKeepsTheCarryForLaterBits) {
    AAA::MemoryStream stream(Bytes{0x11, 0x22, 0x33, 0xAB, 0xCD});
    AAA::BitReader reader(stream);
    uint8_t bulk[3] = {};
    reader.ReadAlignedBytes(bulk, 3);
    EXPECT_EQ(Bytes(bulk, bulk + 3), (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(reader.BitsConsumed(), 24u);
    EXPECT_EQ(ReadBits(reader, 4), (Bytes{0x0A}));
    EXPECT_EQ(ReadBits(reader, 8), (Bytes{0xBC}));
    EXPECT_EQ(ReadBits(reader, 4), (Bytes{0x0D}));
}

TEST(BitReader, EndOfStreamAtByteBoundaryIsUnexpectedEof) {
    AAATest::LogCapture log(4);
    AAA::MemoryStream stream(Bytes{0x01});
    AAA::BitReader reader(stream);
    EXPECT_THROW(ReadBits(reader, 16), AAA::UnexpectedEofException);
    EXPECT_EQ(log.Text(), "AAALib/AAA_BitReader(47): UnexpectedEofException()\n");
}

TEST(BitReader, EndOfStreamInsideAByteIsUnexpectedEof) {
    AAATest::LogCapture log(4);
    AAA::MemoryStream stream(Bytes{0x01, 0x02});
    AAA::BitReader reader(stream);
    ReadBits(reader, 12);
    EXPECT_EQ(ReadBits(reader, 4), (Bytes{0x02})); // the twin that fits
    AAA::MemoryStream shorter(Bytes{0x01, 0x02});
    AAA::BitReader cut(shorter);
    ReadBits(cut, 12);
    EXPECT_THROW(ReadBits(cut, 12), AAA::UnexpectedEofException);
    EXPECT_EQ(log.Text(), "AAALib/AAA_BitReader(41): UnexpectedEofException()\n");
}

TEST(BitReader, BulkReadPastTheEndIsUnexpectedEof) {
    AAA::MemoryStream stream(Bytes{1, 2, 3});
    AAA::BitReader reader(stream);
    uint8_t out[4];
    EXPECT_THROW(reader.ReadAlignedBytes(out, 4), AAA::UnexpectedEofException);
}

} // namespace
