// A stream's duration from its arrival times: exact over the counter's
// wraps, and unmoved by packets that cannot be read.
#include <gtest/gtest.h>

#include "AAA_Stream.h"
#include "AVCHD_Duration.h"
#include "support/MediaSamples.h"

namespace {

constexpr uint32_t kTenMs = 270'000; // ticks

double Seconds(const std::string& bytes, uint64_t step) {
    AAA::MemoryStream stream(bytes.data(), bytes.size());
    return Kalvory::StreamSeconds(stream, bytes.size(), step).value_or(-1);
}

TEST(StreamSeconds, SpansTheArrivalTimesAcrossCounterWraps) {
    // 9,000 packets 10 ms apart: 89.99 s, the 30-bit counter wrapping twice.
    const std::string stream = TestSupport::SourcePackets(9000, 0x3FF00000, kTenMs);
    for (uint64_t step : {1u, 7u, 1000u, 3900u}) // 39 s apart at most: within one wrap
        EXPECT_NEAR(Seconds(stream, step), 89.99, 1e-6) << step;
    // A partial last packet is not one.
    EXPECT_NEAR(Seconds(stream + std::string(100, '\x47'), 1000), 89.99, 1e-6);
}

TEST(StreamSeconds, StepsOverPacketsThatAreNotThereAndNeedsTwo) {
    std::string stream = TestSupport::SourcePackets(3000, 1000, kTenMs);
    stream.replace(1000 * 192, 192 * 10, std::string(192 * 10, '\0')); // unreadable: zeros
    EXPECT_NEAR(Seconds(stream, 1000), 29.99, 1e-6);
    EXPECT_EQ(Seconds(TestSupport::SourcePackets(1, 1000, kTenMs), 1), -1);
    EXPECT_EQ(Seconds(std::string(192 * 50, '\0'), 5), -1);
}

} // namespace
