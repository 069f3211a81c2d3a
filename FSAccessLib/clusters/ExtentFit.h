#pragma once
// Makes a file's extents total the length the file is known to have.
#include <algorithm>
#include <cstdint>
#include <vector>

namespace FSAccessLib {

// `extents` (anything with a 64-bit `length`) hold `total` bytes and must
// hold `wanted`: a shortfall lengthens the last extent (the file goes on
// contiguously after it); a surplus comes off the end, emptied extents are
// dropped, and the first stays, at worst with length 0. Nothing wraps.
template <class Extent>
void FitExtentsTo(std::vector<Extent>& extents, uint64_t wanted, uint64_t total) {
    if (extents.empty())
        return;
    if (wanted >= total) {
        extents.back().length += wanted - total;
        return;
    }
    uint64_t surplus = total - wanted;
    while (surplus > 0) {
        Extent& last = extents.back();
        if (last.length > surplus || extents.size() == 1) {
            last.length -= std::min<uint64_t>(last.length, surplus);
            return;
        }
        surplus -= last.length;
        extents.pop_back();
    }
}

} // namespace FSAccessLib
