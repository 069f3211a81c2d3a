#include "EntryDataStream.h"

#include <algorithm>

#include "AAA_Exceptions.h"

namespace Kalvory {

EntryDataStream::EntryDataStream(AAA::Stream& volume, const FSAccessLib::DirEntry& entry)
    : volume_(volume), ranges_(entry.DataRanges()) {
    uint64_t held = 0;
    for (const AAA::ByteRange& range : ranges_)
        held += range.length;
    length_ = std::min(held, entry.length);
}

int64_t EntryDataStream::Seek(int64_t offset, int origin) {
    const int64_t base = origin == AAA::SeekCurrent ? static_cast<int64_t>(position_)
                         : origin == AAA::SeekEnd   ? static_cast<int64_t>(length_)
                                                    : 0;
    if (base + offset < 0)
        AAA::ThrowLogged<AAA::ArgumentException>("SpecLib/EntryDataStream", __LINE__, "ArgumentException()");
    position_ = static_cast<uint64_t>(base + offset);
    return static_cast<int64_t>(position_);
}

uint32_t EntryDataStream::Read(void* buffer, uint32_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    uint64_t rangeStart = 0; // file offset of the range being looked at
    for (const AAA::ByteRange& range : ranges_) {
        if (done == count || position_ >= length_)
            break;
        const uint64_t rangeEnd = std::min(rangeStart + range.length, length_);
        if (position_ < rangeEnd) {
            const uint64_t inRange = position_ - rangeStart;
            const auto want = static_cast<uint32_t>(std::min<uint64_t>(count - done, rangeEnd - position_));
            volume_.Seek(static_cast<int64_t>(range.start + inRange), AAA::SeekBegin);
            const uint32_t got = volume_.Read(out + done, want);
            done += got;
            position_ += got;
            if (got < want)
                break;
        }
        rangeStart += range.length;
    }
    return done;
}

void EntryDataStream::Write(const void*, uint32_t) {
    AAA::ThrowLogged<AAA::ArgumentException>("SpecLib/EntryDataStream", __LINE__, "ArgumentException()");
}

} // namespace Kalvory
