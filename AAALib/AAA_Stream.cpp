#include "AAA_Stream.h"

#include <algorithm>
#include <cstring>

#include "AAA_Exceptions.h"

namespace AAA {

int64_t MemoryStream::Seek(int64_t offset, int origin) {
    int64_t base = 0;
    if (origin == SeekCurrent)
        base = static_cast<int64_t>(position_);
    else if (origin == SeekEnd)
        base = static_cast<int64_t>(bytes_.size());
    else if (origin != SeekBegin)
        throw ArgumentException();
    const int64_t target = base + offset;
    if (target < 0)
        throw ArgumentException();
    position_ = static_cast<uint64_t>(target);
    return target;
}

uint32_t MemoryStream::Read(void* buffer, uint32_t count) {
    if (position_ >= bytes_.size())
        return 0;
    const uint64_t available = bytes_.size() - position_;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, available));
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

void MemoryStream::Write(const void* buffer, uint32_t count) {
    const uint64_t end = position_ + count;
    if (end > bytes_.size())
        bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, count);
    position_ = end;
}

} // namespace AAA
