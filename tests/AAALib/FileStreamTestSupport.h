#pragma once
// A FileStream that records every movement and read of the underlying file,
// and a file whose bytes are known from their offset alone.
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "AAA_FileStream.h"
#include "support/TempDir.h"

namespace AAATest {

inline uint8_t PatternByte(uint64_t offset) { return static_cast<uint8_t>(offset % 251); }

inline std::string PatternBytes(uint64_t size) {
    std::string bytes(size, '\0');
    for (uint64_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(PatternByte(i));
    return bytes;
}

inline AAA::WString WidePath(const std::filesystem::path& path) { return AAA::FromUtf8(path.string()); }

struct SystemSeekCall {
    int64_t offset;
    int whence;
};

template <class Base>
class Recording : public Base {
public:
    using Base::Base;
    std::vector<SystemSeekCall> seeks;
    std::vector<size_t> reads;
    bool failReads = false;
    int failError = EIO;

    void ClearCalls() {
        seeks.clear();
        reads.clear();
    }
    size_t Calls() const { return seeks.size() + reads.size(); }

protected:
    int64_t SystemSeek(int64_t offset, int whence) override {
        seeks.push_back({offset, whence});
        return Base::SystemSeek(offset, whence);
    }
    ssize_t SystemRead(void* buffer, size_t count) override {
        reads.push_back(count);
        if (failReads) {
            errno = failError;
            return -1;
        }
        return Base::SystemRead(buffer, count);
    }
};

using RecordingFileStream = Recording<AAA::FileStream>;

} // namespace AAATest
