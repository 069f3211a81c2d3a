#include "AAA_Stream.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "AAA_Exceptions.h"

namespace {

TEST(MemoryStream, SeeksFromEachOrigin) {
    AAA::MemoryStream stream(std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(stream.Seek(4, AAA::SeekBegin), 4);
    EXPECT_EQ(stream.Seek(2, AAA::SeekCurrent), 6);
    EXPECT_EQ(stream.Seek(-3, AAA::SeekEnd), 7);
    uint8_t byte = 0xFF;
    EXPECT_EQ(stream.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(stream.Length(), 10);
}

TEST(MemoryStream, BadSeeksThrowArgumentException) {
    AAA::MemoryStream stream(std::vector<uint8_t>(4));
    EXPECT_THROW(stream.Seek(-1, AAA::SeekBegin), AAA::ArgumentException);
    EXPECT_THROW(stream.Seek(-5, AAA::SeekEnd), AAA::ArgumentException);
    EXPECT_THROW(stream.Seek(0, 3), AAA::ArgumentException);
}

TEST(MemoryStream, ReadsShortAtTheEndAndZeroPastIt) {
    AAA::MemoryStream stream(std::vector<uint8_t>{1, 2, 3});
    uint8_t out[8] = {};
    stream.Seek(1, AAA::SeekBegin);
    EXPECT_EQ(stream.Read(out, 8), 2u);
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[1], 3);
    stream.Seek(100, AAA::SeekBegin);
    EXPECT_EQ(stream.Read(out, 8), 0u);
}

TEST(MemoryStream, WritesOverwriteAndExtend) {
    AAA::MemoryStream stream(std::vector<uint8_t>{1, 2, 3});
    stream.Seek(2, AAA::SeekBegin);
    const uint8_t data[] = {9, 8, 7};
    stream.Write(data, 3);
    EXPECT_EQ(stream.Bytes(), (std::vector<uint8_t>{1, 2, 9, 8, 7}));
    stream.Seek(7, AAA::SeekBegin);
    stream.Write(data, 1);
    EXPECT_EQ(stream.Bytes(), (std::vector<uint8_t>{1, 2, 9, 8, 7, 0, 0, 9}));
}

} // namespace
