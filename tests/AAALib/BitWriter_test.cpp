#include "AAA_BitWriter.h"

#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "AAA_BitReader.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(BitWriter, BitsAreWrittenOnceAByteCompletes) {
    AAA::MemoryStream sink;
    AAA::BitWriter writer(sink);
    writer.Write(3, Bytes{0b101});
    EXPECT_TRUE(sink.Bytes().empty());
    EXPECT_EQ(writer.PendingBits(), 3u);
    writer.Write(5, Bytes{0b10011});
    EXPECT_EQ(sink.Bytes(), (Bytes{0b10110011}));
    EXPECT_EQ(writer.PendingBits(), 0u);
}

TEST(BitWriter, IncompleteByteIsNeverWritten) {
    AAA::MemoryStream sink;
    {
        AAA::BitWriter writer(sink);
        writer.Write(8, Bytes{0x5A});
        writer.Write(4, Bytes{0x0F});
    }
    EXPECT_EQ(sink.Bytes(), (Bytes{0x5A}));
}

TEST(BitWriter, UnusedHighBitsOfTheFirstByteAreIgnored) {
    AAA::MemoryStream sink;
    AAA::BitWriter writer(sink);
    writer.Write(4, Bytes{0xFA}); // only the low nibble A counts
    writer.Write(12, Bytes{0xFB, 0xCD});
    EXPECT_EQ(sink.Bytes(), (Bytes{0xAB, 0xCD}));
}

TEST(BitWriter, ZeroBitsWriteNothing) {
    AAA::MemoryStream sink;
    AAA::BitWriter writer(sink);
    writer.Write(0, Bytes{});
    EXPECT_EQ(writer.PendingBits(), 0u);
    EXPECT_TRUE(sink.Bytes().empty());
}

TEST(BitWriter, RoundTripsThroughBitReader) {
    std::mt19937 random(5);
    std::vector<std::pair<uint32_t, Bytes>> values;
    uint64_t total = 0;
    while (total < 8000 || total % 8 != 0) {
        const uint32_t bits = static_cast<uint32_t>(random() % 40 + 1);
        Bytes data((bits + 7) / 8);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(random());
        if (bits % 8)
            data[0] &= static_cast<uint8_t>((1u << (bits % 8)) - 1);
        values.emplace_back(bits, data);
        total += bits;
    }
    AAA::MemoryStream stream;
    AAA::BitWriter writer(stream);
    for (const auto& [bits, data] : values)
        writer.Write(bits, data);
    ASSERT_EQ(stream.Bytes().size(), total / 8);
    stream.Seek(0, AAA::SeekBegin);
    AAA::BitReader reader(stream);
    for (const auto& [bits, data] : values) {
        Bytes back(data.size());
        reader.Read(bits, back);
        ASSERT_EQ(back, data);
    }
}

} // namespace
