#pragma once
// The shape of a source for the stream's differential test: where it starts
// in its file, which sectors fail, where it ends, whether reads come short;
// and those faults installed through the stream's read seam.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "AAA_FileStream.h"

namespace StreamCheck {

enum class StreamKind { Plain, Progress };
enum class ReadSizes { Whole, Short };
// On: sequential runs are fetched ahead on the stream's own thread.
enum class Ahead { Off, On };

struct SourceShape {
    const char* what = "";
    uint32_t blockSize = 512;
    std::vector<std::pair<uint64_t, uint64_t>> bad{}; // [start, end) byte ranges whose requests fail
    uint64_t readableEnd = UINT64_MAX;                // the source gives nothing from here on
    ReadSizes reads = ReadSizes::Whole;
    StreamKind kind = StreamKind::Plain;
    uint64_t origin = 0; // where the stream's offset 0 lies in the file; the rest is in the stream's offsets
    Ahead ahead = Ahead::Off;
};

// ---- The source's faults, installed through the stream's read seam ---------

struct ActiveFaults {
    dev_t device = 0;
    ino_t inode = 0;
    const SourceShape* shape = nullptr;
};
inline ActiveFaults activeFaults;
// The read-ahead's thread reads through the seam too.
inline std::atomic<uint32_t> shortState{1};
// Requests failed so far, [start, end) in the source's offsets: each costs a
// failing card its error delay.
inline std::mutex failedMutex;
inline std::vector<std::pair<uint64_t, uint64_t>> failed;

inline ssize_t FaultyRead(int fd, void* buffer, size_t count) {
    struct stat info {};
    const SourceShape* shape = activeFaults.shape;
    if (!shape || ::fstat(fd, &info) != 0 || info.st_ino != activeFaults.inode || info.st_dev != activeFaults.device)
        return ::read(fd, buffer, count);
    const auto at = static_cast<uint64_t>(::lseek(fd, 0, SEEK_CUR)) - shape->origin;
    // Past its end a source gives nothing, bad or not.
    const uint64_t end = std::min<uint64_t>(shape->readableEnd, static_cast<uint64_t>(info.st_size) - shape->origin);
    if (at >= end)
        return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, end - at));
    for (const auto& [start, end] : shape->bad)
        if (at < end && start < at + count) {
            errno = EIO; // a drive fails the whole request
            const std::lock_guard<std::mutex> lock(failedMutex);
            failed.emplace_back(at, at + count);
            return -1;
        }
    if (shape->reads == ReadSizes::Short && count > 1) {
        const uint32_t state = shortState.fetch_add(0x9E3779B9u) * 1103515245u + 12345u;
        count = 1 + (state >> 8) % count;
    }
    return ::read(fd, buffer, count);
}

class ScopedFaults {
public:
    ScopedFaults(const std::filesystem::path& file, const SourceShape& shape) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        activeFaults = {info.st_dev, info.st_ino, &shape};
        shortState = 1;
        failed.clear();
        AAA::FileStream::SetReadFunctionForTesting(&FaultyRead);
        // The in-kernel copy passes the seam by: only a source without faults may use it.
        if (!shape.bad.empty() || shape.readableEnd != UINT64_MAX || shape.reads == ReadSizes::Short)
            AAA::FileStream::SetKernelCopyForTesting(false);
    }
    ~ScopedFaults() {
        AAA::FileStream::SetReadFunctionForTesting(nullptr);
        AAA::FileStream::SetKernelCopyForTesting(true);
        activeFaults = {};
    }
    ScopedFaults(const ScopedFaults&) = delete;
    ScopedFaults& operator=(const ScopedFaults&) = delete;
};

} // namespace StreamCheck
