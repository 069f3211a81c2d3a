#pragma once
// Runs a sequence of seeks, reads, copies and length queries on a FileStream
// over a file and checks every answer against pread of the same bytes. The
// source can fail some sectors, end before the file does, or give short
// reads; the reference then zero-fills the bad sectors and stops where the
// source stops. Shared by the stream's differential test and its fuzz target.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "AAA_CopyHelpers.h"
#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"
#include "AAA_Stream.h"
#include "StreamFaults.h"

namespace StreamCheck {

struct Op {
    enum class Kind { Seek, Read, Copy, Length, Peek } kind = Kind::Read;
    int origin = 0;
    int64_t offset = 0;  // Seek: from the origin; Copy, Peek: the start
    uint64_t count = 0;  // Read, Copy, Peek
};

// ---- The reference -------------------------------------------------------------

class Reference {
public:
    Reference(const std::filesystem::path& file, const SourceShape& shape)
        : fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)), shape_(shape) {
        struct stat info {};
        ::fstat(fd_, &info);
        size_ = static_cast<uint64_t>(info.st_size) - shape.origin;
        end_ = std::min(size_, shape.readableEnd);
    }
    ~Reference() { ::close(fd_); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    uint64_t Size() const { return size_; }
    uint64_t ReadableEnd() const { return end_; }
    uint64_t Unit() const { return shape_.blockSize > 1 ? shape_.blockSize : 512; }

    // What a read of `count` bytes at `at` must give.
    std::string Bytes(uint64_t at, uint64_t count) const {
        if (at >= end_)
            return {};
        std::string bytes(static_cast<size_t>(std::min(count, end_ - at)), '\0');
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done,
                                      static_cast<off_t>(shape_.origin + at + done));
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        for (const auto& [start, end] : shape_.bad) {
            // Whole sectors are lost around a bad byte range.
            const uint64_t from = std::max(at, start / Unit() * Unit());
            const uint64_t to = std::min(at + bytes.size(), (end + Unit() - 1) / Unit() * Unit());
            if (from < to)
                std::memset(bytes.data() + (from - at), 0, to - from);
        }
        return bytes;
    }

    // Where a seek to `target` leaves the stream: there, or for a target past
    // the readable end, where reading forward from the block below stops.
    uint64_t SeekResult(uint64_t target) const {
        if (target <= end_)
            return target;
        const uint64_t block = std::max<uint32_t>(shape_.blockSize, 1);
        return std::max(target / block * block, end_);
    }

private:
    int fd_;
    const SourceShape& shape_;
    uint64_t size_ = 0;
    uint64_t end_ = 0;
};

// ---- Operation sequences ---------------------------------------------------------

// Sizes around the stream's own marks (its 64 KiB read-ahead, the scan's 1 MiB
// chunks) are where a window can go stale.
inline uint64_t PickReadSize(std::mt19937_64& random) {
    const uint64_t roll = random() % 100;
    const auto near = [&](uint64_t mark) { return mark - 3 + random() % 7; };
    if (roll < 40)
        return 1 + random() % 64;
    if (roll < 60)
        return 65 + random() % 8192;
    if (roll < 80)
        return near(AAA::FileStream::kBufferSize);
    if (roll < 90)
        return near(uint64_t{1} << (16 + random() % 5));
    if (roll < 97)
        return 1 + random() % (256 * 1024);
    return 1 + random() % (4 << 20);
}

inline uint64_t PickTarget(std::mt19937_64& random, uint64_t position, uint64_t size) {
    const uint64_t roll = random() % 100;
    const auto around = [&](uint64_t at, uint64_t spread) {
        const uint64_t low = at > spread ? at - spread : 0;
        return low + random() % (at + spread - low + 1);
    };
    if (roll < 45)
        return around(position, 100 * 1024);
    if (roll < 75)
        return random() % (size + 1);
    if (roll < 92)
        return around(random() % (size / AAA::FileStream::kBufferSize + 1) * AAA::FileStream::kBufferSize, 600);
    return around(size, 4096);
}

inline Op MakeSeek(int origin, uint64_t target, uint64_t position, uint64_t size) {
    const uint64_t base = origin == AAA::SeekCurrent ? position : origin == AAA::SeekEnd ? size : 0;
    return {Op::Kind::Seek, origin, static_cast<int64_t>(target) - static_cast<int64_t>(base), 0};
}

// A seeded sequence; `size` is the file's, `position` tracked only roughly
// (where reads would leave it), which is all the choice of targets needs.
inline std::vector<Op> RandomOps(uint64_t seed, size_t count, uint64_t size) {
    std::mt19937_64 random(seed);
    std::vector<Op> ops;
    uint64_t position = 0;
    while (ops.size() < count) {
        const uint64_t roll = random() % 100;
        if (roll < 35) {
            const uint64_t target = PickTarget(random, position, size);
            ops.push_back(MakeSeek(static_cast<int>(random() % 3), target, position, size));
            position = target;
        } else if (roll < 85) {
            ops.push_back({Op::Kind::Read, 0, 0, PickReadSize(random)});
            position = std::min(size, position + ops.back().count);
        } else if (roll < 88) {
            // A run of reads with no seek between, as a scan or a copy makes.
            for (uint64_t i = 0, n = 8 + random() % 32; i < n; ++i)
                ops.push_back({Op::Kind::Read, 0, 0, 1 + random() % (1 << 20)});
        } else if (roll < 90) {
            ops.push_back({Op::Kind::Peek, 0, static_cast<int64_t>(PickTarget(random, position, size)), 1 + random() % 600});
        } else if (roll < 97) {
            const uint64_t start = PickTarget(random, position, size);
            ops.push_back({Op::Kind::Copy, 0, static_cast<int64_t>(start), PickReadSize(random)});
            position = std::min(size, start + ops.back().count);
        } else {
            ops.push_back({Op::Kind::Length});
        }
    }
    return ops;
}

// The same vocabulary from a fuzzer's bytes, five bytes an operation.
inline std::vector<Op> OpsFromBytes(const uint8_t* data, size_t bytes, uint64_t size) {
    std::vector<Op> ops;
    for (size_t at = 0; at + 5 <= bytes; at += 5) {
        const uint8_t kind = data[at] % 8;
        const uint32_t value = static_cast<uint32_t>(data[at + 1]) | data[at + 2] << 8 | data[at + 3] << 16 |
                               static_cast<uint32_t>(data[at + 4]) << 24;
        const uint64_t target = size == 0 ? 0 : value % (size + 4097);
        if (kind < 3)
            ops.push_back(MakeSeek(kind, target, 0, size)); // from the current position: the tracked one is not known
        else if (kind < 6)
            ops.push_back({Op::Kind::Read, 0, 0, 1 + value % (3 << 20)});
        else if (kind == 6)
            ops.push_back({Op::Kind::Copy, 0, static_cast<int64_t>(target), 1 + (value >> 8) % (2 << 20)});
        else
            ops.push_back({Op::Kind::Length});
    }
    return ops;
}

// ---- The run -----------------------------------------------------------------------

struct RunResult {
    size_t opsRun = 0;
    std::string mismatch; // empty: every answer was the reference's
};

class Runner {
public:
    Runner(const std::filesystem::path& file, const std::filesystem::path& scratch, const SourceShape& shape)
        : file_(file), scratch_(scratch), shape_(shape), reference_(file, shape) {}

    RunResult Run(const std::vector<Op>& ops) {
        ScopedFaults faults(file_, shape_);
        const AAA::WString path = AAA::FromUtf8(file_.string());
        std::unique_ptr<AAA::FileStream> stream;
        if (shape_.kind == StreamKind::Progress)
            stream = std::make_unique<Restore::ProgressFileStream>(path, AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
        else
            stream = std::make_unique<AAA::FileStream>(path, AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
        stream->blockSize = shape_.blockSize;
        if (shape_.ahead == Ahead::On && !stream->EnableReadAhead())
            return {0, "the read-ahead could not open the file"};
        AAA::FileStream::SetSlowSourceForTesting(shape_.ahead == Ahead::On); // the file is cached: fast
        const struct Restore {
            ~Restore() { AAA::FileStream::SetSlowSourceForTesting(false); }
        } restore;
        if (shape_.origin != 0)
            stream->SetOrigin(shape_.origin);
        RunResult result;
        for (const Op& op : ops) {
            result.mismatch = Apply(*stream, op);
            if (!result.mismatch.empty())
                return result;
            ++result.opsRun;
        }
        result.mismatch = CheckUnreadable(*stream);
        return result;
    }

private:
    std::string Apply(AAA::FileStream& stream, const Op& op) {
        switch (op.kind) {
        case Op::Kind::Seek: return ApplySeek(stream, op);
        case Op::Kind::Read: return ApplyRead(stream, op.count);
        case Op::Kind::Copy: return ApplyCopy(stream, op);
        case Op::Kind::Length: return ApplyLength(stream);
        case Op::Kind::Peek: return ApplyPeek(stream, op);
        }
        return {};
    }

    std::string ApplySeek(AAA::FileStream& stream, const Op& op) {
        const int64_t base = op.origin == AAA::SeekCurrent ? static_cast<int64_t>(position_)
                             : op.origin == AAA::SeekEnd   ? static_cast<int64_t>(reference_.Size())
                                                           : 0;
        if (base + op.offset < 0)
            return {};
        const uint64_t expected = reference_.SeekResult(static_cast<uint64_t>(base + op.offset));
        const int64_t got = stream.Seek(op.offset, op.origin);
        if (got != static_cast<int64_t>(expected) || stream.Position() != got)
            return Describe("seek", base + op.offset, 0) + " went to " + std::to_string(got) + ", not " +
                   std::to_string(expected);
        position_ = expected;
        return {};
    }

    std::string ApplyRead(AAA::FileStream& stream, uint64_t count) {
        const std::string expected = reference_.Bytes(position_, count);
        buffer_.resize(static_cast<size_t>(count));
        const uint32_t got = stream.Read(buffer_.data(), static_cast<uint32_t>(count));
        if (got != expected.size() || std::memcmp(buffer_.data(), expected.data(), got) != 0)
            return Describe("read", static_cast<int64_t>(position_), count) + FirstDifference(expected, got);
        position_ += got;
        return {};
    }

    std::string ApplyCopy(AAA::FileStream& stream, const Op& op) {
        const auto start = static_cast<uint64_t>(op.offset);
        if (start >= reference_.ReadableEnd())
            return {};
        const uint64_t length = std::min(op.count, reference_.ReadableEnd() - start);
        const std::string expected = reference_.Bytes(start, length);
        std::string got;
        // Into a file (where the system may copy in the kernel) or into memory.
        if (++copies_ % 2 == 0) {
            const std::filesystem::path target = scratch_ / ("copy" + std::to_string(copies_));
            AAA::CopyExtentToNewFile(stream, start, length, AAA::FromUtf8(target.string()));
            got = ReadAll(target);
            std::filesystem::remove(target);
        } else {
            AAA::MemoryStream sink;
            AAA::CopyExtent(stream, start, length, sink);
            got.assign(sink.Bytes().begin(), sink.Bytes().end());
        }
        if (got != expected)
            return Describe("copy", op.offset, length) + FirstDifference(expected, 0, got);
        if (stream.Position() != static_cast<int64_t>(start + length))
            return Describe("copy", op.offset, length) + " left the stream at " + std::to_string(stream.Position());
        position_ = start + length;
        return {};
    }

    // A look leaves the stream where it stood; its bytes are the file's where
    // the seam fails none (the look reads past the seam).
    std::string ApplyPeek(AAA::FileStream& stream, const Op& op) {
        const auto start = static_cast<uint64_t>(op.offset);
        buffer_.resize(static_cast<size_t>(op.count));
        const std::optional<size_t> got = stream.Peek(start, buffer_.data(), buffer_.size());
        if (stream.Position() != static_cast<int64_t>(position_))
            return Describe("peek", op.offset, op.count) + " moved the stream to " + std::to_string(stream.Position());
        const uint64_t end = start + op.count;
        const bool faulty = end > reference_.ReadableEnd() ||
                            std::any_of(shape_.bad.begin(), shape_.bad.end(),
                                        [&](const auto& r) { return r.first < end && start < r.second; });
        if (!got)
            return shape_.ahead == Ahead::On && !faulty && end <= reference_.Size()
                       ? Describe("peek", op.offset, op.count) + " was refused"
                       : std::string();
        if (faulty)
            return {};
        const std::string expected = reference_.Bytes(start, *got);
        if (*got > op.count || std::memcmp(buffer_.data(), expected.data(), expected.size()) != 0)
            return Describe("peek", op.offset, op.count) + FirstDifference(expected, static_cast<uint32_t>(*got));
        return {};
    }

    std::string ApplyLength(AAA::FileStream& stream) {
        const int64_t length = stream.Length();
        if (length != static_cast<int64_t>(reference_.Size()) || stream.Position() != static_cast<int64_t>(position_))
            return Describe("length", static_cast<int64_t>(position_), 0) + " gave " + std::to_string(length);
        return {};
    }

    // Only sectors that hold a bad byte may be reported unreadable.
    std::string CheckUnreadable(const AAA::FileStream& stream) const {
        const uint64_t unit = reference_.Unit();
        for (const AAA::ByteRange& range : stream.Unreadable().Within(0, UINT64_MAX))
            for (uint64_t sector = range.start / unit * unit; sector < range.End(); sector += unit) {
                const bool bad = std::any_of(shape_.bad.begin(), shape_.bad.end(),
                                             [&](const auto& r) { return r.first < sector + unit && sector < r.second; });
                if (!bad)
                    return "the sector at " + std::to_string(sector) + " was reported unreadable";
            }
        return {};
    }

    std::string FirstDifference(const std::string& expected, uint32_t got, const std::string& copied = {}) const {
        const uint8_t* bytes = copied.empty() ? buffer_.data() : reinterpret_cast<const uint8_t*>(copied.data());
        const size_t have = copied.empty() ? got : copied.size();
        size_t i = 0;
        while (i < std::min(have, expected.size()) && bytes[i] == static_cast<uint8_t>(expected[i]))
            ++i;
        return ": " + std::to_string(have) + " bytes for " + std::to_string(expected.size()) +
               ", first difference at +" + std::to_string(i);
    }

    std::string Describe(const char* what, int64_t at, uint64_t count) const {
        return std::string(shape_.what) + ": " + what + " at " + std::to_string(at) + " of " + std::to_string(count);
    }

    static std::string ReadAll(const std::filesystem::path& path) {
        std::string bytes(std::filesystem::file_size(path), '\0');
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), 0);
        ::close(fd);
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return bytes;
    }

    std::filesystem::path file_, scratch_;
    const SourceShape& shape_;
    Reference reference_;
    uint64_t position_ = 0;
    size_t copies_ = 0;
    std::vector<uint8_t> buffer_;
};

// Random bytes, so that a misplaced block always shows.
inline void WriteRandomFile(const std::filesystem::path& file, uint64_t size, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::string bytes(static_cast<size_t>(size), '\0');
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const uint64_t word = random();
        std::memcpy(bytes.data() + i, &word, 8);
    }
    for (size_t i = bytes.size() / 8 * 8; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(random());
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    [[maybe_unused]] const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}

} // namespace StreamCheck
