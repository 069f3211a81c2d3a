#pragma once
// A deleted picture read from the free clusters after its first holds, where
// another deleted file lay between its fragments, that file's clusters too.
// Its own entropy-coded data tells them apart: a cluster that breaks the walk
// is skipped, and the next one is taken only where the picture's restart
// markers continue in it in their order, or its end-of-image marker closes
// it at the file's length after all its restart intervals. A picture without
// restart intervals is not followed: nothing in it vouches for a cluster;
// nor is one where a skipped cluster looks like another picture's coded data
// (see LooksLikePictureData): an in-order restart marker tells only one such
// cluster in eight from this picture's.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace Kalvory {

// How far past the last cluster kept the next one is looked for.
constexpr uint64_t kStillSearchBytes = 16ull << 20;

enum class StillFragments {
    Stitched,  // its chain now holds its own clusters, the walk strictly whole
    Unchanged, // no such clusters found (or nothing was skipped): left as it is
};

// Follows the JPEG `entry` cluster by cluster through the clusters its data
// names and then those after them, skipping the ones that break its walk, up
// to its length. `buffer` is a read buffer.
StillFragments FollowStillClusters(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                   FSAccessLib::DirEntry& entry, std::vector<uint8_t>& buffer);

} // namespace Kalvory
