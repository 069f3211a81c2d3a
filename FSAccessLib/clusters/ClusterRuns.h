#pragma once
// Clusters in allocation-chain order, as byte runs. Folders grow a cluster at
// a time while the files beside them are written, so on real cards their
// clusters interleave with file data: a live folder is read along its chain.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "FSAccessBase.h"

namespace FSAccessLib {

struct ByteRun {
    uint64_t start = 0;
    uint64_t length = 0;
};

// The view of one allocation table a chain walk needs.
struct ChainView {
    const void* table;
    uint32_t (*entryAt)(const void* table, uint32_t cluster);
    bool (*isEndOfChain)(const void* table, uint32_t value);
    uint64_t entryCount;    // entries held in memory
    uint32_t clusterLimit;  // cluster numbers at or above end the walk
};

struct ClusterChain {
    std::vector<ByteRun> runs;
    // The first cluster's successor is neither a cluster nor an end mark: the
    // table says nothing about this folder.
    bool brokenAtFirstStep = false;
};

// The runs of the chain from `first` (WalkClusterChain), up to `maxBytes`.
ClusterChain FollowClusterChain(const FSAccessBase& reader, const ChainView& view, uint32_t first, uint64_t maxBytes);

// The bytes of the runs in order; a short read (runs beyond the device) ends
// the buffer there.
std::vector<uint8_t> ReadRuns(AAA::Stream& source, const std::vector<ByteRun>& runs);

// ReadRuns of a folder's clusters from the reader's stream; a folder whose
// runs reach past the end of the source is logged and counted there.
std::vector<uint8_t> ReadFolderRuns(FSAccessBase& reader, const std::vector<ByteRun>& runs, const AAA::WString& name);

} // namespace FSAccessLib
