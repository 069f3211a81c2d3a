#pragma once
// A stream whose data is taken as one run from its first cluster (its chain is
// gone: after a format, or deleted) holds foreign clusters when it was written
// in fragments. Its packets' arrival times tell where each fragment ends and
// which cluster continues it.
#include <cstdint>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_Stream.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace Kalvory {

// How far past a fragment's end the next one is looked for.
constexpr uint64_t kFragmentSearchBytes = 256ull << 20;

enum class StreamFragments {
    Whole,     // its packets vouch for the whole run: left as it is
    Stitched,  // its chain now holds the fragments, in order, totalling its length
    Partial,   // no continuation found: its chain holds what was verified, `partial` set
    Unvouched, // fewer packets than one aligned unit at its start: left as it is, unjudged
};

// The 30-bit arrival time stamp of a source packet.
uint32_t PacketAts(const uint8_t* packet);
// The arrival time `next` follows `last` closely, the counter's wrap allowed.
bool AtsContinues(uint32_t last, uint32_t next);

// Whether the entry's data is one run from its first cluster: no chain, or a
// chain broken at its first step and stretched to the entry's length.
bool TakenAsOneRun(const FSAccessLib::DirEntry& entry);

// Checks the stream `entry`, taken as one run with `length` from its slot,
// and, when its packets stop before its length, follows its fragments.
// `buffer` is the stream-length read buffer.
StreamFragments StitchStreamFragments(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                      FSAccessLib::DirEntry& entry, std::vector<uint8_t>& buffer);

// Makes `runs` (card offsets; empty ones skipped) the entry's chain, whole again.
void SetChainFromRuns(FSAccessLib::DirEntry& entry, const std::vector<AAA::ByteRange>& runs);

} // namespace Kalvory
