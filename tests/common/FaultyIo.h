#pragma once
// Injected device faults: reads of one file that fail at chosen offsets, and
// writes that fail once a budget of bytes is spent. Installed for a scope
// through FileStream's read and write seams; the faults stay process-wide
// state, so one scope at a time.
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "AAA_FileStream.h"

namespace KalvoryTest {

struct ReadFaults {
    ino_t inode = 0;
    dev_t device = 0;
    // [start, end) of the file that fail with `error`, and from where every read fails.
    std::vector<std::pair<uint64_t, uint64_t>> bad;
    uint64_t lostFrom = UINT64_MAX;
    int error = EIO;
    std::atomic<int> failedReads{0};
};

inline ReadFaults* activeReadFaults = nullptr;

inline ssize_t FaultyRead(int fd, void* buffer, size_t count) {
    struct stat info {};
    ReadFaults* faults = activeReadFaults;
    if (faults && ::fstat(fd, &info) == 0 && info.st_ino == faults->inode && info.st_dev == faults->device) {
        const auto at = static_cast<uint64_t>(::lseek(fd, 0, SEEK_CUR));
        int error = at + count > faults->lostFrom ? ENXIO : 0;
        for (const auto& [start, end] : faults->bad)
            if (error == 0 && at < end && start < at + count)
                error = faults->error; // a drive fails the whole request
        if (error != 0) {
            faults->failedReads.fetch_add(1);
            errno = error;
            return -1;
        }
    }
    return ::read(fd, buffer, count);
}

// Reads of `file` fail over the given ranges while this lives.
class ScopedReadFaults {
public:
    explicit ScopedReadFaults(const std::filesystem::path& file) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        faults.inode = info.st_ino;
        faults.device = info.st_dev;
        activeReadFaults = &faults;
        AAA::FileStream::SetReadFunctionForTesting(&FaultyRead);
        AAA::FileStream::SetKernelCopyForTesting(false); // reads must pass the seam
    }
    ~ScopedReadFaults() {
        AAA::FileStream::SetReadFunctionForTesting(nullptr);
        AAA::FileStream::SetKernelCopyForTesting(true);
        activeReadFaults = nullptr;
    }
    ScopedReadFaults(const ScopedReadFaults&) = delete;
    ScopedReadFaults& operator=(const ScopedReadFaults&) = delete;

    ReadFaults faults;
};

inline std::atomic<int64_t> writeBudget{0};
inline std::atomic<int> writeError{ENOSPC};
inline std::atomic<bool> writeFailsOnce{false};

// Writes succeed until the budget is spent, then fail with writeError (once,
// or from then on).
inline ssize_t BudgetedWrite(int fd, const void* buffer, size_t count) {
    const int64_t left = writeBudget.load();
    if (left <= 0) {
        if (writeFailsOnce.load())
            writeBudget = INT64_MAX;
        errno = writeError.load();
        return -1;
    }
    const size_t n = count < static_cast<size_t>(left) ? count : static_cast<size_t>(left);
    const ssize_t written = ::write(fd, buffer, n);
    if (written > 0)
        writeBudget.fetch_sub(written);
    return written;
}

class ScopedWriteBudget {
public:
    enum class Fails { Once, FromThenOn };
    ScopedWriteBudget(int64_t bytes, int error, Fails fails = Fails::FromThenOn) {
        writeBudget = bytes;
        writeError = error;
        writeFailsOnce = fails == Fails::Once;
        AAA::FileStream::SetWriteFunctionForTesting(&BudgetedWrite);
        AAA::FileStream::SetKernelCopyForTesting(false);
    }
    ~ScopedWriteBudget() {
        AAA::FileStream::SetWriteFunctionForTesting(nullptr);
        AAA::FileStream::SetKernelCopyForTesting(true);
    }
    ScopedWriteBudget(const ScopedWriteBudget&) = delete;
    ScopedWriteBudget& operator=(const ScopedWriteBudget&) = delete;
};

} // namespace KalvoryTest
