#pragma once
// A deleted stream whose run from its first cluster crossed live files is read
// from the free clusters after its first. Where another deleted stream was
// written into the same holes, those free clusters hold both. The packets'
// arrival times tell, cluster by cluster, which are its own.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "AVCHD_Fragments.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace Kalvory {

// Keeps, of the clusters the entry's chain names and then of those after it,
// the ones whose packets continue the stream's times, up to its length; a
// cluster more than kFragmentSearchBytes past the last one kept ends the
// search. Whole: every cluster of the chain was the stream's; Stitched: the
// chain now holds its own clusters; Partial: they ran out (the chain holds
// what was found, `partial` set); Unvouched: its first cluster holds no
// stream, the entry is left as it is. `buffer` is a read buffer.
StreamFragments FollowStreamClusters(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                     FSAccessLib::DirEntry& entry, std::vector<uint8_t>& buffer);

} // namespace Kalvory
