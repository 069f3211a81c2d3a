#pragma once
// AVCHD transport streams (".MTS", 192-byte source packets): which packets may
// start a carved stream, how long a carved stream is, whether it is worth
// recovering, and the step that files carved streams under
// PRIVATE\AVCHD\BDMV\STREAM. Lengths are 64-bit: SDXC cards hold streams of
// 4 GiB and more.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "DirEntry.h"

namespace Kalvory {

constexpr uint32_t kSourcePacketBytes = 192;
constexpr uint32_t kPacketWindowBytes = 3 * kSourcePacketBytes;
constexpr uint32_t kStreamReadBytes = 0x240000;            // 12,288 packets
constexpr uint64_t kSmallestPlausibleStream = 0x120000;    // 6,144 packets
constexpr uint32_t kAtsWrapGapLimit = 0x112A88;            // ticks
constexpr uint32_t kAtsMask = 0x3FFFFFFF;

// Byte 4 is the sync byte and bytes 5-6 carry a packet identifier an AVCHD
// stream may start with. `available` bytes can be read at `sector`.
bool IsAvchdPacket(const uint8_t* sector, size_t available);

// Judges the step from k1 to k2 of three consecutive packets; logs why at
// level 7 when it fails. `firstWindow`: the window at the stream's start.
bool CheckSourcePackets(const uint8_t* k0, const uint8_t* k1, const uint8_t* k2, bool firstWindow);

// The length of the stream starting at `start` (a multiple of 192; 0 when not
// even one window passes), read in kStreamReadBytes pieces through `buffer`.
// `sectorSize` places the sector boundaries of the end rule.
uint64_t MtsLength(AAA::Stream& stream, uint64_t start, uint32_t sectorSize, std::vector<uint8_t>& buffer);

// A carved stream is worth recovering: long enough, and its first bytes readable.
bool IsPlausibleMts(AAA::Stream& stream, uint64_t start, uint64_t length);

// Files the selected carved streams under PRIVATE\AVCHD\BDMV\STREAM as
// 00000.MTS, 00001.MTS, ... after the names already there, and unselects the
// carved management files. Throws InvalidDataException when a folder can be
// neither found nor made.
void RenameAndMoveAvchdFiles(FSAccessLib::DirEntry& root);

} // namespace Kalvory
