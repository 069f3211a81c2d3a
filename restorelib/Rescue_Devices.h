#pragma once
// The two ends of an imaging run: the source read at any offset, bad sectors
// told apart from a source that went away, and the image written in place.
#include <cstddef>
#include <cstdint>
#include <string>

namespace Rescue {

enum class ReadOutcome {
    Read,   // all asked for, or up to the end of the source
    Bad,    // the medium failed after `bytes` good bytes
    Lost,   // the source went away: nothing more will come
    Failed, // any other error: the run cannot go on
};

struct SourceRead {
    size_t bytes = 0;
    ReadOutcome outcome = ReadOutcome::Read;
    int error = 0;
};

class RescueSource {
public:
    virtual ~RescueSource() = default;
    virtual uint64_t Size() const = 0;
    virtual SourceRead ReadAt(uint64_t position, uint8_t* out, size_t count) = 0;
};

class RescueImage {
public:
    virtual ~RescueImage() = default;
    // 0, or the error number of a failed write.
    virtual int WriteAt(uint64_t position, const uint8_t* data, size_t count) = 0;
    virtual int Flush() = 0;
};

// A card or a file opened read-only.
class DeviceSource : public RescueSource {
public:
    // `error` is set (and the source unusable) when it cannot be opened.
    DeviceSource(const std::string& path, int& error);
    ~DeviceSource() override;
    DeviceSource(const DeviceSource&) = delete;
    DeviceSource& operator=(const DeviceSource&) = delete;
    uint64_t Size() const override { return size_; }
    SourceRead ReadAt(uint64_t position, uint8_t* out, size_t count) override;
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

enum class ImageOpen { CreateNew, Resume };

// The image file: created exclusively (an existing file is never taken), or
// opened to resume; either way sized as the source, unread parts zeros.
class ImageFile : public RescueImage {
public:
    ImageFile(const std::string& path, ImageOpen how, uint64_t size, int& error);
    ~ImageFile() override;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    int WriteAt(uint64_t position, const uint8_t* data, size_t count) override;
    int Flush() override;
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

// Whether two open descriptors are the same file (the image onto its source).
bool SameFile(int first, int second);

} // namespace Rescue
