#include "AAA_ByteRanges.h"

#include <algorithm>

namespace AAA {

void ByteRangeSet::Add(uint64_t start, uint64_t length) {
    if (length == 0)
        return;
    uint64_t end = start + length;
    auto it = ranges_.upper_bound(start);
    if (it != ranges_.begin() && std::prev(it)->second >= start)
        --it;
    while (it != ranges_.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        bytes_ -= it->second - it->first;
        it = ranges_.erase(it);
    }
    ranges_.emplace(start, end);
    bytes_ += end - start;
}

std::vector<ByteRange> ByteRangeSet::Within(uint64_t start, uint64_t length) const {
    std::vector<ByteRange> parts;
    const uint64_t end = start + length;
    auto it = ranges_.upper_bound(start);
    if (it != ranges_.begin())
        --it;
    for (; it != ranges_.end() && it->first < end; ++it) {
        const uint64_t from = std::max(start, it->first);
        const uint64_t to = std::min(end, it->second);
        if (from < to)
            parts.push_back({from, to - from});
    }
    return parts;
}

bool ByteRangeSet::Intersects(uint64_t start, uint64_t length) const { return !Within(start, length).empty(); }

bool ByteRangeSet::Covers(uint64_t start, uint64_t length) const {
    const std::vector<ByteRange> parts = Within(start, length);
    return length == 0 || (parts.size() == 1 && parts[0].length == length);
}

} // namespace AAA
