#pragma once
// A file's data where the tree says it lies (its chain, or one run from its
// start), read as one stream from offset 0. The checks that measure files on
// the card then measure a file of the tree the same way.
#include <cstdint>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_Stream.h"
#include "DirEntry.h"

namespace Kalvory {

class EntryDataStream : public AAA::Stream {
public:
    // Reads end at the entry's length, or where its extents end if sooner.
    EntryDataStream(AAA::Stream& volume, const FSAccessLib::DirEntry& entry);

    int64_t Seek(int64_t offset, int origin) override;
    uint32_t Read(void* buffer, uint32_t count) override;
    void Write(const void* buffer, uint32_t count) override; // throws: the card is never written
    int64_t Length() override { return static_cast<int64_t>(length_); }

private:
    AAA::Stream& volume_;
    std::vector<AAA::ByteRange> ranges_;
    uint64_t length_ = 0;
    uint64_t position_ = 0;
};

} // namespace Kalvory
