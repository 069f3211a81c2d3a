#pragma once
// The byte-stream interface every reader and copier works through, and a
// memory-backed stream so records can be parsed without a device.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace AAA {

class Stream {
public:
    virtual ~Stream() = default;
    // origin: 0 = from the start, 1 = from the current position, 2 = from the end.
    virtual int64_t Seek(int64_t offset, int origin) = 0;
    virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    virtual void Write(const void* buffer, uint32_t count) = 0;
    virtual int64_t Length() = 0;
};

enum SeekOrigin : int { SeekBegin = 0, SeekCurrent = 1, SeekEnd = 2 };

// Reads from (and writes into) a byte vector it owns.
class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    MemoryStream(const void* data, size_t size)
        : bytes_(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

    int64_t Seek(int64_t offset, int origin) override;
    uint32_t Read(void* buffer, uint32_t count) override;
    void Write(const void* buffer, uint32_t count) override;
    int64_t Length() override { return static_cast<int64_t>(bytes_.size()); }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    uint64_t position_ = 0;
};

} // namespace AAA
