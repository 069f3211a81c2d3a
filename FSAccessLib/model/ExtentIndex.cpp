#include "ExtentIndex.h"

#include <algorithm>
#include <functional>

#include "AAA_Exceptions.h"

namespace FSAccessLib {
namespace {

constexpr const char* kSourceFile = "FSAccessLib/ExtentIndex";

// The extents the data-block search looks at, in chain order. Empty extents and
// ones whose end wraps past 2^64 can contain no position and are left out.
std::vector<std::pair<uint64_t, uint64_t>> SearchableExtents(const DirEntry& entry) {
    std::vector<std::pair<uint64_t, uint64_t>> extents;
    auto add = [&](uint64_t start, uint64_t length) {
        const uint64_t end = start + length;
        if (start < end)
            extents.emplace_back(start, end);
    };
    if (entry.chain.empty())
        add(entry.start, entry.length);
    for (const DataBlock& block : entry.chain)
        add(block.start, block.length);
    return extents;
}

bool Overlaps(std::vector<std::pair<uint64_t, uint64_t>> extents) {
    std::sort(extents.begin(), extents.end());
    for (size_t i = 1; i < extents.size(); ++i)
        if (extents[i].first < extents[i - 1].second)
            return true;
    return false;
}

} // namespace

EntryKey KeyOf(const DirEntry& entry) {
    EntryKey key;
    for (const DirEntry* e = &entry; e->parent != nullptr; e = e->parent) {
        const std::vector<DirEntry>& siblings = e->parent->children;
        const std::less<const DirEntry*> before;
        if (siblings.empty() || before(e, siblings.data()) || !before(e, siblings.data() + siblings.size()))
            AAA::ThrowLogged<AAA::ArgumentException>(kSourceFile, __LINE__, "AAA::ArgumentException()");
        key.push_back(static_cast<uint32_t>(e - siblings.data()));
    }
    std::reverse(key.begin(), key.end());
    return key;
}

DirEntry* Resolve(DirEntry& root, const EntryKey& key) {
    DirEntry* entry = &root;
    for (const uint32_t index : key) {
        if (index >= entry->children.size())
            return nullptr;
        entry = &entry->children[index];
    }
    return entry;
}

void ExtentIndex::AddSubtree(const DirEntry& entry, const EntryKey& key) {
    if (key.empty() || key.size() > kMaxTreeDepth) {
        // The root is never visited itself; entries below the depth limit never at all.
        if (key.empty())
            AddChildren(entry, key);
        return;
    }
    AddOne(entry, key);
    if (entry.isDirectory)
        AddChildren(entry, key);
}

void ExtentIndex::AddTree(const DirEntry& root) {
    bulk_ = true;
    AddChildren(root, EntryKey{});
    bulk_ = false;
    if (!tail_.empty())
        MergeTail();
}

void ExtentIndex::AddChildren(const DirEntry& folder, const EntryKey& folderKey) {
    // Mirrors DirEntry::Apply: folders only, at most kMaxTreeDepth levels below the root.
    struct Frame {
        const DirEntry* folder;
        EntryKey key;
    };
    std::vector<Frame> pending{{&folder, folderKey}};
    while (!pending.empty()) {
        Frame frame = std::move(pending.back());
        pending.pop_back();
        if (!frame.folder->isDirectory || frame.key.size() >= kMaxTreeDepth)
            continue;
        // Reverse push keeps the stack popping in walk order (not required, but cheap).
        for (size_t i = frame.folder->children.size(); i-- > 0;) {
            EntryKey childKey = frame.key;
            childKey.push_back(static_cast<uint32_t>(i));
            AddOne(frame.folder->children[i], childKey);
            pending.push_back({&frame.folder->children[i], std::move(childKey)});
        }
    }
}

void ExtentIndex::AddOne(const DirEntry& entry, const EntryKey& key) {
    std::vector<std::pair<uint64_t, uint64_t>> extents = SearchableExtents(entry);
    if (extents.empty())
        return;
    const auto id = static_cast<uint32_t>(keys_.size());
    keys_.push_back(key);
    if (Overlaps(extents)) {
        irregular_.push_back({id, std::move(extents)});
        return;
    }
    for (const auto& [start, end] : extents)
        tail_.push_back({start, end, id});
    if (!bulk_ && tail_.size() >= kTailLimit)
        MergeTail();
}

void ExtentIndex::MergeTail() {
    auto byStart = [](const Extent& a, const Extent& b) { return a.start < b.start; };
    std::sort(tail_.begin(), tail_.end(), byStart);
    const size_t oldSize = sorted_.size();
    // Prefix values before the first merged extent keep their meaning.
    const size_t firstChanged =
        std::lower_bound(sorted_.begin(), sorted_.end(), tail_.front(), byStart) - sorted_.begin();
    sorted_.insert(sorted_.end(), tail_.begin(), tail_.end());
    std::inplace_merge(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(oldSize), sorted_.end(),
                       byStart);
    tail_.clear();
    prefixBest_.resize(sorted_.size());
    for (size_t i = firstChanged; i < sorted_.size(); ++i) {
        const Best own{sorted_[i].end, sorted_[i].id};
        prefixBest_[i] = i == 0 ? own : Better(prefixBest_[i - 1], own);
    }
}

ExtentIndex::Best ExtentIndex::Better(Best a, Best b) const {
    if (a.id == kNone)
        return b;
    if (b.id == kNone)
        return a;
    if (b.end != a.end)
        return b.end > a.end ? b : a;
    return keys_[b.id] < keys_[a.id] ? b : a;
}

ExtentIndex::Best ExtentIndex::Reach(uint32_t irregularIndex, uint64_t position) const {
    // The data-block search's own rule: the last containing extent in chain order counts.
    const Irregular& entry = irregular_[irregularIndex];
    Best reach{position, kNone};
    for (const auto& [start, end] : entry.extents)
        if (start <= position && position < end)
            reach = {end, entry.id};
    return reach;
}

ExtentIndex::Hit ExtentIndex::Query(uint64_t position) const {
    Best best{position, kNone};
    // Among extents starting at or before the position, the furthest end covers
    // it exactly when that end lies beyond the position.
    const auto after = std::upper_bound(sorted_.begin(), sorted_.end(), position,
                                        [](uint64_t p, const Extent& e) { return p < e.start; });
    if (after != sorted_.begin()) {
        const Best prefix = prefixBest_[static_cast<size_t>(after - sorted_.begin()) - 1];
        if (prefix.end > position)
            best = prefix;
    }
    for (const Extent& extent : tail_)
        if (extent.start <= position && position < extent.end)
            best = Better(best, {extent.end, extent.id});
    for (uint32_t i = 0; i < irregular_.size(); ++i)
        best = Better(best, Reach(i, position));
    if (best.id == kNone)
        return {nullptr, position};
    return {&keys_[best.id], best.end};
}

uint64_t ExtentIndex::NextStartAfter(uint64_t position) const {
    uint64_t next = UINT64_MAX;
    const auto after = std::upper_bound(sorted_.begin(), sorted_.end(), position,
                                        [](uint64_t p, const Extent& e) { return p < e.start; });
    if (after != sorted_.end())
        next = after->start;
    for (const Extent& extent : tail_)
        if (extent.start > position)
            next = std::min(next, extent.start);
    for (const Irregular& entry : irregular_)
        for (const auto& [start, end] : entry.extents)
            if (start > position)
                next = std::min(next, start);
    return next;
}

DirEntry* ExtentIndex::Query(DirEntry& root, uint64_t position, uint64_t& foundEnd) const {
    const Hit hit = Query(position);
    foundEnd = hit.foundEnd;
    return hit.key == nullptr ? nullptr : Resolve(root, *hit.key);
}

} // namespace FSAccessLib
