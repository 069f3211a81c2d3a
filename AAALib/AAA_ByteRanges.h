#pragma once
// Sets of byte ranges: the parts of a source that could not be read, and the
// parts of a recovered file that hold zeros in their place.
#include <cstdint>
#include <map>
#include <vector>

namespace AAA {

struct ByteRange {
    uint64_t start = 0;
    uint64_t length = 0;
    uint64_t End() const { return start + length; }
    bool operator==(const ByteRange&) const = default;
};

// Disjoint ranges, merged as they are added.
class ByteRangeSet {
public:
    void Add(uint64_t start, uint64_t length);
    // Whether any byte of [start, start + length) is in the set.
    bool Intersects(uint64_t start, uint64_t length) const;
    // Whether every byte of [start, start + length) is in the set.
    bool Covers(uint64_t start, uint64_t length) const;
    // The parts of [start, start + length) in the set, in order.
    std::vector<ByteRange> Within(uint64_t start, uint64_t length) const;
    uint64_t Bytes() const { return bytes_; }
    bool Empty() const { return ranges_.empty(); }

private:
    std::map<uint64_t, uint64_t> ranges_; // start -> end
    uint64_t bytes_ = 0;
};

} // namespace AAA
