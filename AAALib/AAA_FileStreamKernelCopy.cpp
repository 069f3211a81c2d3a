// The in-kernel copy from a source stream into a destination file.
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"

namespace AAA {
namespace {

std::atomic<bool> kernelCopyEnabled{true};

// Errors that only say "not between these two files": the caller copies by hand.
bool KernelCopyUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF ||
           error == EPERM;
}

} // namespace

void FileStream::SetKernelCopyForTesting(bool enabled) { kernelCopyEnabled.store(enabled); }

std::optional<uint32_t> FileStream::TransferFrom(FileStream& source, int64_t sourceOffset, uint32_t count) {
    if (!kernelCopyEnabled.load())
        return std::nullopt;
    LeaveReadAhead();
    uint32_t done = 0;
    loff_t from = static_cast<loff_t>(source.FileOffset(static_cast<uint64_t>(sourceOffset)));
    while (done < count) {
        const ssize_t n = ::copy_file_range(source.fd_, &from, fd_, nullptr, count - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // A bad or vanished sector (of either file): the plain copy reads
            // around it or tells which side failed.
            const bool readFault = ClassifyReadError(errno) != ReadFault::Other;
            if (done == 0 && (KernelCopyUnsupported(errno) || readFault))
                return std::nullopt;
            if (readFault)
                break;
            ThrowFromErrno();
        }
        if (n == 0)
            break; // the source's end
        done += static_cast<uint32_t>(n);
        filePosition_ += n;
    }
    return done;
}

} // namespace AAA
