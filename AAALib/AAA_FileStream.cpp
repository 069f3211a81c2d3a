#include "AAA_FileStream.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_Progress.h"
#include "AAA_LogLines.h"

namespace AAA {
namespace {

constexpr const char* kSourceFile = "AAALib/AAA_FileStream";
constexpr int kOpenRetries = 10;

int DefaultOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t DefaultRead(int fd, void* buffer, size_t count) { return ::read(fd, buffer, count); }
ssize_t DefaultWrite(int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); }
ssize_t ReadThroughSeam(int fd, void* buffer, size_t count);

// Sectors are re-read in units of this size until the owner sets blockSize.
constexpr uint64_t kSalvageUnit = 512;

std::atomic<FileStream::OpenFunction> openFunction{&DefaultOpen};
std::atomic<FileStream::ReadFunction> readFunction{&DefaultRead};
std::atomic<FileStream::WriteFunction> writeFunction{&DefaultWrite};
std::atomic<int64_t> openRetryDelayMs{100};
std::atomic<bool> everySourceSlow{false};

[[noreturn]] void ArgumentError(int line) {
    ThrowLogged<ArgumentException>(kSourceFile, line, "ArgumentException()");
}

int OpenFlags(int mode, int access) {
    if (mode == 0) {
        // Created files are always new: never truncate what is already there.
        if (access == 1)
            return O_RDWR | O_CREAT | O_EXCL;
        if (access == 2)
            return O_WRONLY | O_CREAT | O_EXCL;
        ArgumentError(LogLine::kFileStreamCreateAccess);
    }
    if (mode == 1) {
        if (access == 0)
            return O_RDONLY;
        if (access == 1 || access == 2)
            return O_RDWR;
        ArgumentError(LogLine::kFileStreamOpenAccess);
    }
    ArgumentError(LogLine::kFileStreamOpenMode);
}

int OpenWithRetries(const std::string& path, int flags) {
    int fd = openFunction.load()(path.c_str(), flags | O_CLOEXEC, 0666);
    for (int retry = 0; fd < 0 && errno != EEXIST && retry < kOpenRetries; ++retry) {
        std::this_thread::sleep_for(std::chrono::milliseconds(openRetryDelayMs.load()));
        fd = openFunction.load()(path.c_str(), flags | O_CLOEXEC, 0666);
    }
    if (fd < 0)
        ThrowFromErrnoFor(FromUtf8(path), errno);
    return fd;
}

ssize_t ReadThroughSeam(int fd, void* buffer, size_t count) { return readFunction.load()(fd, buffer, count); }

} // namespace

ReadFault ClassifyReadError(int errorNumber) {
    switch (errorNumber) {
    case EIO: case ENODATA: case EILSEQ: case EBADMSG: case EREMOTEIO: case ETIMEDOUT:
        return ReadFault::Medium;
    case ENODEV: case ENXIO: case ENOMEDIUM: case ESHUTDOWN:
        return ReadFault::Lost;
    default:
        return ReadFault::Other;
    }
}

void FileStream::SetOpenFunctionForTesting(OpenFunction function) {
    openFunction.store(function ? function : &DefaultOpen);
}

void FileStream::SetReadFunctionForTesting(ReadFunction function) {
    readFunction.store(function ? function : &DefaultRead);
}

void FileStream::SetWriteFunctionForTesting(WriteFunction function) {
    writeFunction.store(function ? function : &DefaultWrite);
}

void FileStream::SetOpenRetryDelayForTesting(std::chrono::milliseconds delay) {
    openRetryDelayMs.store(delay.count());
}

FileStream::FileStream(const WString& path, int mode, int access) {
    if (path.empty())
        ArgumentError(LogLine::kFileStreamEmptyPath);
    const int flags = OpenFlags(mode, access);
    fd_ = OpenWithRetries(ToUtf8(path), flags);
    path_ = path;
}

FileStream::FileStream(int ownedDescriptor, WString path) : fd_(ownedDescriptor), path_(std::move(path)) {}

FileStream::~FileStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

int64_t FileStream::SystemSeek(int64_t offset, int whence) {
    return ::lseek(fd_, static_cast<off_t>(offset), whence);
}

void FileStream::SetOrigin(uint64_t origin) {
    origin_ = static_cast<int64_t>(origin);
    DropBuffer();
    filePosition_ = 0;
    if (SourceSeek(0, SEEK_SET) < 0)
        ThrowFromErrno();
}

void FileStream::OpenCardWindow() {
    cardWindow_ = true;
}

int64_t FileStream::SourceSeek(int64_t offset, int whence) {
    if (whence == SEEK_SET)
        return SystemSeek(static_cast<int64_t>(FileOffset(static_cast<uint64_t>(offset))), SEEK_SET) < 0 ? -1 : offset;
    const int64_t at = SystemSeek(offset, whence);
    return at < 0 ? -1 : std::max<int64_t>(at - origin_, 0);
}

ssize_t FileStream::SystemRead(void* buffer, size_t count) {
    ssize_t n;
    do {
        n = readFunction.load()(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

void FileStream::DropBuffer() {
    bufferPos_ = bufferEnd_ = 0;
}

void FileStream::KeepTail(const uint8_t* bytes, size_t count) {
    const size_t kept = std::min(count, kBufferSize);
    if (buffer_.empty())
        buffer_.resize(kBufferSize);
    std::memcpy(buffer_.data(), bytes + (count - kept), kept);
    bufferPos_ = bufferEnd_ = kept;
}

void FileStream::LeaveReadAhead() {
    if (bufferEnd_ == 0)
        return;
    // Writes land at the logical position, not after the read-ahead.
    const int64_t logical = Position();
    DropBuffer();
    if (SourceSeek(logical, SEEK_SET) < 0)
        ThrowFromErrno();
    filePosition_ = logical;
}

int64_t FileStream::EndOffset() {
    const int64_t end = SourceSeek(0, SEEK_END);
    if (end < 0)
        ThrowFromErrno();
    // The descriptor goes back under the read-ahead, which stays valid.
    if (SourceSeek(filePosition_, SEEK_SET) < 0)
        ThrowFromErrno();
    return end;
}

int64_t FileStream::Seek(int64_t offset, int origin) {
    if (origin == SeekBegin && Position() == offset)
        return offset;
    const int64_t block = blockSize ? static_cast<int64_t>(blockSize) : 1;
    int64_t base = 0;
    if (origin == SeekCurrent) {
        base = Position();
    } else if (origin == SeekEnd) {
        base = EndOffset();
    } else if (origin != SeekBegin) {
        ThrowFromErrno(EINVAL);
    }
    const int64_t target = base + offset;
    if (target < 0)
        ThrowFromErrno(EINVAL);
    // A target inside the read-ahead window is reached without touching the file.
    const int64_t windowStart = filePosition_ - static_cast<int64_t>(bufferEnd_);
    if (bufferEnd_ > 0 && target >= windowStart && target <= filePosition_) {
        bufferPos_ = static_cast<size_t>(target - windowStart);
        return target;
    }
    // Otherwise the file goes to the block boundary below the absolute target,
    // whatever the origin, and the rest is read forward.
    const int64_t aligned = (target / block) * block;
    DropBuffer();
    const int64_t moved = SourceSeek(aligned, SEEK_SET);
    if (moved < 0)
        ThrowFromErrno();
    filePosition_ = moved;
    int64_t remainder = target - aligned;
    uint8_t scratch[4096];
    while (remainder > 0) {
        const uint32_t piece = static_cast<uint32_t>(std::min<int64_t>(remainder, sizeof scratch));
        const uint32_t got = Read(scratch, piece);
        remainder -= got;
        if (got < piece)
            break;
    }
    const int64_t position = Position();
    if (position < 0)
        ThrowFromErrno(EINVAL);
    return position;
}

size_t FileStream::ReadFully(uint8_t* out, size_t count, bool& failed) {
    const int64_t at = filePosition_;
    size_t held = cache_ ? cache_->Fill(static_cast<uint64_t>(at), out, count) : 0;
    if (held > 0 && SourceSeek(at + static_cast<int64_t>(held), SEEK_SET) < 0)
        held = 0; // the file must stand after them: read them from it after all
    filePosition_ = at + static_cast<int64_t>(held);
    if (held > 0 && FileOffset(static_cast<uint64_t>(at)) == sequentialEnd_)
        CountSequential(sequentialEnd_, held); // staged bytes continue the run
    const size_t got = held + (held < count ? FetchFully(out + held, count - held, failed) : 0);
    if (tee_ && got > 0)
        tee_->Fetched(static_cast<uint64_t>(at), out, got);
    return got;
}

void FileStream::ReplayHeld(uint64_t from) {
    if (!tee_ || bufferEnd_ == 0)
        return;
    const auto windowStart = static_cast<uint64_t>(filePosition_) - bufferEnd_;
    // Held bytes after a gap are not the file's first: the capture would hold
    // them out of order, and they are read again with the rest anyway.
    if (from >= windowStart && from < static_cast<uint64_t>(filePosition_))
        tee_->Fetched(from, buffer_.data() + (from - windowStart), static_cast<size_t>(filePosition_ - from));
}

void FileStream::AdoptHeld(uint64_t offset, const uint8_t* bytes, size_t count) {
    if (count == 0 || count > kAdoptedMax || offset + count != static_cast<uint64_t>(filePosition_))
        return; // not the bytes just read: the read-ahead stays as it is
    const int64_t logical = Position();
    if (logical < static_cast<int64_t>(offset))
        return; // the stream stands before them: adopting would move it
    if (buffer_.size() < count)
        buffer_.resize(count);
    std::memcpy(buffer_.data(), bytes, count);
    bufferEnd_ = count;
    bufferPos_ = static_cast<size_t>(logical - static_cast<int64_t>(offset));
}

bool FileStream::EnableReadAhead() {
    if (ahead_)
        return true;
    const int fd = openFunction.load()(ToUtf8(path_).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ahead_ = std::make_unique<ReadAhead>(fd, &ReadThroughSeam);
    return true;
}

std::optional<size_t> FileStream::Peek(uint64_t offset, uint8_t* out, size_t count) {
    const uint64_t windowStart = static_cast<uint64_t>(filePosition_) - bufferEnd_;
    if (bufferEnd_ > 0 && offset >= windowStart && offset + count <= static_cast<uint64_t>(filePosition_)) {
        std::memcpy(out, buffer_.data() + (offset - windowStart), count);
        return count;
    }
    if (!ahead_ || unreadable_.Intersects(offset, count))
        return std::nullopt;
    if (cache_ != nullptr && cache_->Fill(offset, out, count) == count)
        return count;
    ssize_t n;
    do {
        n = ::pread(fd_, out, count, static_cast<off_t>(FileOffset(offset)));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return std::nullopt;
    return static_cast<size_t>(n);
}

void FileStream::CountSequential(uint64_t fileOffset, size_t count) {
    if (fileOffset != sequentialEnd_)
        sequential_ = 0;
    sequential_ += count;
    sequentialEnd_ = fileOffset + count;
}

size_t FileStream::FetchAhead(uint8_t* out, size_t count) {
    const uint64_t at = FileOffset(static_cast<uint64_t>(filePosition_));
    if (!ahead_)
        return 0;
    // Fetched windows serve any read they hold, in a run or not: the next
    // file begins where the last one's read ran past its end.
    const bool inRun = sequential_ >= kReadAheadAfter && at == sequentialEnd_ && SlowSource();
    if (!inRun && !ahead_->Holds(at))
        return 0;
    ReadAhead::Failure failure;
    const size_t got = ahead_->Read(at, out, count, failure, inRun ? ReadAhead::Then::FetchOn : ReadAhead::Then::HeldOnly);
    if (failure.error != 0) {
        sequential_ = 0; // nothing is fetched past the fault
        if (ClassifyReadError(failure.error) == ReadFault::Medium)
            salvageUntil_ = failure.end;
    }
    if (got > 0 && SourceSeek(filePosition_ + static_cast<int64_t>(got), SEEK_SET) < 0)
        ThrowFromErrno();
    filePosition_ += static_cast<int64_t>(got);
    return got;
}

size_t FileStream::FetchFully(uint8_t* out, size_t count, bool& failed) {
    // A read over a sector already known bad would only fail again, slowly.
    if (unreadable_.Intersects(static_cast<uint64_t>(filePosition_), count))
        return SalvageRead(out, count);
    const auto from = static_cast<uint64_t>(filePosition_);
    const uint64_t at = FileOffset(from);
    if (at < salvageUntil_)
        return FetchSalvaging(out, count, failed);
    const size_t ahead = FetchAhead(out, count);
    const bool salvaging = FileOffset(static_cast<uint64_t>(filePosition_)) < salvageUntil_;
    size_t got = ahead;
    if (ahead < count)
        got += salvaging ? FetchSalvaging(out + ahead, count - ahead, failed)
                         : TimedFetchFromFile(out + ahead, count - ahead, failed);
    CountSequential(at, got);
    if (salvaging || unreadable_.Intersects(from, got))
        sequential_ = 0; // the run starts anew past a fault: no window is fetched over it again
    if (ahead_ && sequential_ >= kReadAheadAfter && got == count && SlowSource())
        ahead_->Want(FileOffset(static_cast<uint64_t>(filePosition_)));
    return got;
}

size_t FileStream::FetchSalvaging(uint8_t* out, size_t count, bool& failed) {
    const uint64_t at = FileOffset(static_cast<uint64_t>(filePosition_));
    const auto bad = static_cast<size_t>(std::min<uint64_t>(count, salvageUntil_ - at));
    const size_t got = SalvageRead(out, bad);
    if (got < bad || bad == count)
        return got;
    return got + FetchFully(out + got, count - got, failed);
}

void FileStream::SetSlowSourceForTesting(bool always) { everySourceSlow.store(always); }

bool FileStream::SlowSource() const {
    if (everySourceSlow.load(std::memory_order_relaxed))
        return true;
    const uint64_t fetched = ahead_ ? ahead_->WindowNanos() : 0;
    return (fetched != 0 ? fetched : windowNanos_) >= kFastWindowNanos;
}

size_t FileStream::TimedFetchFromFile(uint8_t* out, size_t count, bool& failed) {
    if (!ahead_ || count < ReadAhead::kWindow / 4)
        return FetchFromFile(out, count, failed);
    const auto began = std::chrono::steady_clock::now();
    const size_t got = FetchFromFile(out, count, failed);
    if (got == count) {
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began);
        windowNanos_ = static_cast<uint64_t>(nanos.count()) * ReadAhead::kWindow / count;
    }
    return got;
}

size_t FileStream::FetchFromFile(uint8_t* out, size_t count, bool& failed) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = SystemRead(out + done, count - done);
        if (n < 0) {
            const int error = errno;
            const ReadFault fault = ClassifyReadError(error);
            if (fault == ReadFault::Lost) {
                filePosition_ += static_cast<int64_t>(done);
                RaiseReadFault(error);
            }
            if (fault == ReadFault::Medium) {
                filePosition_ += static_cast<int64_t>(done);
                return done + SalvageRead(out + done, count - done);
            }
            readError_ = error;
            failed = true;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    filePosition_ += static_cast<int64_t>(done);
    return done;
}

void FileStream::RaiseReadFault(int error) {
    DebugLog(3, "%s: %s\n", path_, SystemReason(error));
    if (ClassifyReadError(error) == ReadFault::Lost) {
        SourceLostException lost;
        lost.SetErrorNumber(error);
        lost.AddDetail(path_ + u": " + SystemReason(error));
        ThrowLogged<SourceLostException>(kSourceFile, __LINE__, "SourceLostException()", lost);
    }
    IOException failure;
    failure.SetErrorNumber(error);
    ThrowLogged<IOException>(kSourceFile, __LINE__, "IOException()", failure);
}

ssize_t FileStream::ReadPieceAt(int64_t position, uint8_t* out, size_t count) {
    if (SourceSeek(position, SEEK_SET) < 0)
        ThrowFromErrno();
    const ssize_t n = SystemRead(out, count);
    if (n >= 0)
        return n;
    const int error = errno;
    if (ClassifyReadError(error) != ReadFault::Medium)
        RaiseReadFault(error);
    // Zeros stand in for the source's bytes only, never for any past its end.
    const int64_t fileEnd = SystemSeek(0, SEEK_END);
    const uint64_t at = FileOffset(static_cast<uint64_t>(position));
    const uint64_t end = fileEnd < 0 ? UINT64_MAX : static_cast<uint64_t>(fileEnd);
    const uint64_t left = end > at ? end - at : 0; // bytes of the source from here on
    const auto lost = static_cast<size_t>(std::min<uint64_t>(count, left));
    std::memset(out, 0, lost);
    if (lost == 0)
        return 0;
    // A drive fails a whole sector: the rest of it, read later, would only fail again.
    const uint64_t unit = blockSize > 1 ? blockSize : kSalvageUnit;
    const auto start = static_cast<uint64_t>(position);
    const uint64_t sector = start - start % unit;
    const uint64_t sectorEnd = left >= unit ? sector + unit : std::min(sector + unit, start + left);
    unreadable_.Add(sector, sectorEnd - sector);
    DebugLog(3, "%s: %I64d bytes at 0x%I64X cannot be read (%s); zeros stand in for them\n", path_,
             static_cast<uint64_t>(lost), static_cast<uint64_t>(position), SystemReason(error));
    return lost == count ? -1 : static_cast<ssize_t>(lost);
}

size_t FileStream::SalvageRead(uint8_t* out, size_t count) {
    const uint64_t unit = blockSize > 1 ? blockSize : kSalvageUnit;
    const int64_t start = filePosition_;
    size_t done = 0;
    try {
        while (done < count) {
            const auto position = static_cast<uint64_t>(start) + done;
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(count - done, unit - position % unit));
            if (unreadable_.Covers(position, piece)) {
                std::memset(out + done, 0, piece);
                done += piece;
                continue;
            }
            const ssize_t n = ReadPieceAt(static_cast<int64_t>(position), out + done, piece);
            if (n == 0)
                break; // the end of the file
            done += n < 0 ? piece : static_cast<size_t>(n);
        }
    } catch (...) {
        // A failed piece leaves the descriptor at its start; later reads must know.
        filePosition_ = start + static_cast<int64_t>(done);
        throw;
    }
    filePosition_ = start + static_cast<int64_t>(done);
    if (SourceSeek(filePosition_, SEEK_SET) < 0)
        ThrowFromErrno();
    return done;
}

uint32_t FileStream::Read(void* buffer, uint32_t count) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    bool failed = false;
    while (done < count && !failed) {
        if (bufferPos_ < bufferEnd_) {
            const size_t n = std::min<size_t>(count - done, bufferEnd_ - bufferPos_);
            std::memcpy(out + done, buffer_.data() + bufferPos_, n);
            bufferPos_ += n;
            done += static_cast<uint32_t>(n);
            continue;
        }
        const uint32_t want = count - done;
        if (want >= kBufferSize) {
            // Large reads go straight to the caller's memory; the read-ahead
            // then holds their tail, so that its window always names exactly
            // the bytes it holds.
            DropBuffer();
            const size_t got = ReadFully(out + done, want, failed);
            KeepTail(out + done, got);
            done += static_cast<uint32_t>(got);
            break;
        }
        if (buffer_.empty())
            buffer_.resize(kBufferSize);
        DropBuffer();
        bufferEnd_ = ReadFully(buffer_.data(), kBufferSize, failed);
        if (bufferEnd_ == 0)
            break;
    }
    if (done < count && failed) {
        IOException failure;
        failure.SetErrorNumber(readError_);
        ThrowLogged<IOException>(kSourceFile, LogLine::kFileStreamWriteFailed, "IOException()", failure);
    }
    return done;
}

void FileStream::Write(const void* buffer, uint32_t count) {
    LeaveReadAhead();
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = writeFunction.load()(fd_, in + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            ThrowFromErrno();
        }
        done += static_cast<uint32_t>(n);
        filePosition_ += n;
    }
}

int64_t FileStream::Length() {
    // Asked of the system: finding the end reads nothing and keeps the read-ahead.
    return EndOffset();
}

} // namespace AAA
