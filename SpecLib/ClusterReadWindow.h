#pragma once
// The bytes a cluster trail looks at, read one window ahead: following a
// file's clusters across a card reads each stretch once, not once per cluster;
// and the runs of the clusters it keeps.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "DirEntry.h"

namespace Kalvory {

class ClusterReadWindow {
public:
    ClusterReadWindow(AAA::Stream& stream, std::vector<uint8_t>& buffer, uint32_t windowBytes)
        : stream_(stream), buffer_(buffer), windowBytes_(windowBytes) {}

    // `take` bytes at `at`; null when the card ends before them. A window
    // read here reaches no further than the `wanted` bytes the trail still
    // looks for: what lies past a file's end is the next file's, read then.
    const uint8_t* Bytes(uint64_t at, uint64_t take, uint64_t wanted) {
        if (at < start_ || at + take > start_ + held_) {
            buffer_.resize(windowBytes_);
            stream_.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
            start_ = at;
            const auto size = static_cast<uint32_t>(std::clamp<uint64_t>(wanted, take, windowBytes_));
            held_ = stream_.Read(buffer_.data(), size);
            if (take > held_)
                return nullptr;
        }
        return buffer_.data() + (at - start_);
    }

private:
    AAA::Stream& stream_;
    std::vector<uint8_t>& buffer_;
    uint32_t windowBytes_;
    uint64_t start_ = 0;
    uint64_t held_ = 0;
};

// Adds the kept `take` bytes at `at` to `runs`, as a run of their own or the last one's continuation.
inline void KeepCluster(std::vector<FSAccessLib::DataBlock>& runs, uint64_t at, uint64_t take, FSAccessLib::DirEntry* owner) {
    if (!runs.empty() && runs.back().start + runs.back().length == at)
        runs.back().length += take;
    else
        runs.emplace_back(at, take, owner);
}

} // namespace Kalvory
