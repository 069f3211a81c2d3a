#pragma once
// The sector search's question at every sector: does an entry of the tree
// cover this offset, and how far does the furthest covering extent reach?
// The scan only moves forward, so between two extent starts the answer stays
// "not covered": the index is asked once per such stretch, not per sector.
#include <cstdint>

#include "DirEntry.h"
#include "ExtentIndex.h"

namespace Kalvory {

class CoverageCursor {
public:
    // Indexes every entry of the tree below `root`.
    explicit CoverageCursor(FSAccessLib::DirEntry& root);

    // True when some extent covers `offset`; `foundEnd` is then the furthest
    // covering end (else `offset`). Offsets must not decrease between calls
    // unless the tree changed since.
    bool Covered(uint64_t offset, uint64_t& foundEnd);
    // Where the next covered stretch after the uncovered `offset` begins
    // (`offset` itself when it is covered, UINT64_MAX when none follows).
    uint64_t NextCoveredAfter(uint64_t offset);
    // Entries were appended to the root from `firstNewChild` on.
    void ChildrenAppended(size_t firstNewChild);
    // Existing entries changed their extents: index the tree again.
    void Rebuild();

    size_t IndexQueries() const { return queries_; }

private:
    FSAccessLib::DirEntry& root_;
    FSAccessLib::ExtentIndex index_;
    uint64_t uncoveredFrom_ = 1; // [uncoveredFrom_, uncoveredUntil_) is known uncovered
    uint64_t uncoveredUntil_ = 0;
    size_t queries_ = 0;
};

} // namespace Kalvory
