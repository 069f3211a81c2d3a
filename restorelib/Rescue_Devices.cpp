#include "Rescue_Devices.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AAA_FileStream.h"

namespace Rescue {

DeviceSource::DeviceSource(const std::string& path, int& error) {
    error = 0;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error = errno;
        return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        return;
    }
    // A block device tells its size only through the end of the file.
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
        error = errno;
        return;
    }
    size_ = static_cast<uint64_t>(end);
}

DeviceSource::~DeviceSource() {
    if (fd_ >= 0)
        ::close(fd_);
}

SourceRead DeviceSource::ReadAt(uint64_t position, uint8_t* out, size_t count) {
    SourceRead result;
    while (result.bytes < count) {
        const ssize_t n = ::pread(fd_, out + result.bytes, count - result.bytes,
                                  static_cast<off_t>(position + result.bytes));
        if (n < 0 && errno == EINTR)
            continue; // the signal is looked at between reads
        if (n < 0) {
            result.error = errno;
            switch (AAA::ClassifyReadError(result.error)) {
            case AAA::ReadFault::Medium: result.outcome = ReadOutcome::Bad; break;
            case AAA::ReadFault::Lost: result.outcome = ReadOutcome::Lost; break;
            case AAA::ReadFault::Other: result.outcome = ReadOutcome::Failed; break;
            }
            return result;
        }
        if (n == 0)
            break;
        result.bytes += static_cast<size_t>(n);
    }
    return result;
}

ImageFile::ImageFile(const std::string& path, ImageOpen how, uint64_t size, int& error) {
    error = 0;
    const int flags = O_WRONLY | O_CLOEXEC | (how == ImageOpen::CreateNew ? O_CREAT | O_EXCL : 0);
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        error = errno;
        return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        error = errno;
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
        return;
    }
    // Only grown, never cut: a longer file is no image of this source.
    if (static_cast<uint64_t>(info.st_size) > size) {
        error = EFBIG;
        return;
    }
    if (static_cast<uint64_t>(info.st_size) < size && ::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        error = errno;
}

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

int ImageFile::WriteAt(uint64_t position, const uint8_t* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd_, data + done, count - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int ImageFile::Flush() { return ::fdatasync(fd_) == 0 ? 0 : errno; }

bool SameFile(int first, int second) {
    struct stat a {}, b {};
    return ::fstat(first, &a) == 0 && ::fstat(second, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace Rescue
