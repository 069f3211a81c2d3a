#pragma once
// The lengths of AVCHD management files found by their signatures: clip
// information ("HDMV", .CPI), playlist ("MPLS", .MPL), index ("INDX",
// INDEX.BDM), movie object ("MOBJ", MOVIEOBJ.BDM) and thumbnail index
// ("TIDX", THUMB.TID). They are big-endian and made of sections; a file ends
// where its last section ends. Each function returns 0 when the header or the
// last section's length cannot be read whole.
#include <cstdint>

#include "AAA_Stream.h"

namespace Kalvory {

uint64_t ClipInformationLength(AAA::Stream& stream, uint64_t start);
uint64_t PlaylistLength(AAA::Stream& stream, uint64_t start);
uint64_t IndexLength(AAA::Stream& stream, uint64_t start);
uint64_t MovieObjectLength(AAA::Stream& stream, uint64_t start);
uint64_t ThumbnailIndexLength(AAA::Stream& stream, uint64_t start);

} // namespace Kalvory
