#pragma once
// How long an AVCHD stream plays, from its packets' 27 MHz arrival time
// stamps. The 30-bit counter wraps every 39.7 s, so the stream is sampled
// often enough that no two samples lie a wrap apart at camcorder rates.
#include <cstdint>
#include <optional>

#include "AAA_Stream.h"

namespace Kalvory {

constexpr double kAtsTicksPerSecond = 27'000'000.0;
// 8 MiB: under 39.7 s of stream down to 1.7 Mbit/s; AVCHD records at 5 and more.
constexpr uint64_t kDurationStepPackets = (8ull << 20) / 192;

// The seconds the packets of `file` (a stream from offset 0, `length` bytes)
// span; nullopt when fewer than two sampled packets carry the sync byte.
// Reads one packet every `stepPackets` and the last one.
std::optional<double> StreamSeconds(AAA::Stream& file, uint64_t length,
                                    uint64_t stepPackets = kDurationStepPackets);

} // namespace Kalvory
