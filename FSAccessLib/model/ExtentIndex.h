#pragma once
// Answers CommandSearchExistingDataBlock's question (which entry's extent
// covering a position reaches furthest) in logarithmic time, for the sector
// search that asks it at every sector while it appends carved entries.
#include <cstdint>
#include <vector>

#include "DirEntry.h"

namespace FSAccessLib {

// A stable name for an entry: its child index at each level below the root.
// Appends never change it (entries are never removed), and comparing keys
// lexicographically gives the walk order of DirEntry::Apply.
using EntryKey = std::vector<uint32_t>;

// The key of an entry in a relinked tree (empty for the root).
EntryKey KeyOf(const DirEntry& entry);
// The entry a key names below `root`, or null when it names none.
DirEntry* Resolve(DirEntry& root, const EntryKey& key);

class ExtentIndex {
public:
    struct Hit {
        const EntryKey* key = nullptr;  // null: nothing covers the position
        uint64_t foundEnd = 0;          // the position itself when nothing covers it
    };

    // Indexes `entry` and, if it is a folder, everything below it that the walk
    // visits. `key` is the entry's own key. Extents are read now: add an entry
    // once its start, length and chain are final.
    void AddSubtree(const DirEntry& entry, const EntryKey& key);
    // Indexes every entry the walk of `root` visits.
    void AddTree(const DirEntry& root);

    Hit Query(uint64_t position) const;
    // The smallest extent start above `position` (UINT64_MAX when none): no
    // position before it is covered unless `position` itself is.
    uint64_t NextStartAfter(uint64_t position) const;
    // The same, resolved to the entry in `root`'s tree.
    DirEntry* Query(DirEntry& root, uint64_t position, uint64_t& foundEnd) const;

    size_t EntryCount() const { return keys_.size(); }
    size_t ExtentCount() const { return sorted_.size() + tail_.size(); }

private:
    struct Extent {
        uint64_t start;
        uint64_t end;
        uint32_t id;
    };
    struct Best {
        uint64_t end;
        uint32_t id;
    };
    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr size_t kTailLimit = 64;

    void AddChildren(const DirEntry& folder, const EntryKey& folderKey);
    void AddOne(const DirEntry& entry, const EntryKey& key);
    void MergeTail();
    // Further end wins; on equal ends the earlier entry in walk order.
    Best Better(Best a, Best b) const;
    Best Reach(uint32_t irregularIndex, uint64_t position) const;

    std::vector<EntryKey> keys_;              // by id
    std::vector<Extent> sorted_;              // by start
    std::vector<Best> prefixBest_;            // best over sorted_[0..i]
    std::vector<Extent> tail_;                // recent additions, unsorted
    // Entries whose own extents overlap each other: their reach follows the
    // chain order rule, so they are evaluated exactly at each query.
    struct Irregular {
        uint32_t id;
        std::vector<std::pair<uint64_t, uint64_t>> extents;  // (start, end) in chain order
    };
    std::vector<Irregular> irregular_;
    bool bulk_ = false;  // while a whole tree is added: one sort at the end
};

} // namespace FSAccessLib
