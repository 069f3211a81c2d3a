#pragma once
// Hooks that let the bytes a scan fetches from the card serve the save as
// well, so that a recovery reads each byte of the card once.
#include <cstddef>
#include <cstdint>

namespace AAA {

class FileStream;

// Told of every byte a stream fetches from its source, at the stream's offsets.
class ReadTee {
public:
    virtual ~ReadTee() = default;
    virtual void Fetched(uint64_t offset, const uint8_t* bytes, size_t count) = 0;
};

// Bytes of the source held elsewhere (staged in the destination): a stream
// that meets them again takes them from there instead of the source.
class ReadCache {
public:
    virtual ~ReadCache() = default;
    // Fills `out` with the longest held start of the source's
    // [offset, offset + count); returns how many bytes that is.
    virtual size_t Fill(uint64_t offset, uint8_t* out, size_t count) = 0;
};

// Keeps what the reads of one found file fetch, from Begin to End. A capture
// that cannot keep bytes (a full destination) just keeps less: the save reads
// the rest from the card.
class FileCapture {
public:
    virtual ~FileCapture() = default;
    // `start`: where the file begins; the stream's held bytes from there on count too.
    virtual void Begin(FileStream& stream, uint64_t start) = 0;
    // `length`: the file found there when it is one run from `start`;
    // kNotOneRun: files were found, not as one run; 0: nothing was found.
    virtual void End(FileStream& stream, uint64_t length) = 0;
    static constexpr uint64_t kNotOneRun = UINT64_MAX;
};

// Begin/End around a scope; a scope left by an exception keeps what it fetched.
class CaptureScope {
public:
    CaptureScope(FileCapture* capture, FileStream& stream, uint64_t start) : capture_(capture), stream_(stream) {
        if (capture_)
            capture_->Begin(stream_, start);
    }
    ~CaptureScope() { Finish(0); }
    CaptureScope(const CaptureScope&) = delete;
    CaptureScope& operator=(const CaptureScope&) = delete;
    void Finish(uint64_t length) {
        if (capture_)
            capture_->End(stream_, length);
        capture_ = nullptr;
    }

private:
    FileCapture* capture_;
    FileStream& stream_;
};

} // namespace AAA
