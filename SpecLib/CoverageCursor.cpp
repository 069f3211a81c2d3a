#include "CoverageCursor.h"

namespace Kalvory {

CoverageCursor::CoverageCursor(FSAccessLib::DirEntry& root) : root_(root) { index_.AddTree(root_); }

bool CoverageCursor::Covered(uint64_t offset, uint64_t& foundEnd) {
    foundEnd = offset;
    if (uncoveredFrom_ <= offset && offset < uncoveredUntil_)
        return false;
    ++queries_;
    const FSAccessLib::ExtentIndex::Hit hit = index_.Query(offset);
    if (hit.key != nullptr) {
        foundEnd = hit.foundEnd;
        return true;
    }
    uncoveredFrom_ = offset;
    uncoveredUntil_ = index_.NextStartAfter(offset);
    return false;
}

uint64_t CoverageCursor::NextCoveredAfter(uint64_t offset) {
    uint64_t end = 0;
    if (Covered(offset, end))
        return offset;
    return uncoveredUntil_;
}

void CoverageCursor::ChildrenAppended(size_t firstNewChild) {
    for (size_t i = firstNewChild; i < root_.children.size(); ++i)
        index_.AddSubtree(root_.children[i], FSAccessLib::EntryKey{static_cast<uint32_t>(i)});
    uncoveredUntil_ = 0;
}

void CoverageCursor::Rebuild() {
    index_ = FSAccessLib::ExtentIndex();
    index_.AddTree(root_);
    uncoveredUntil_ = 0;
}

} // namespace Kalvory
