#pragma once
// Which bytes of a card image one run's reads fetched: once, or again. The
// reads pass FileStream's read seam, from the job's thread and the
// read-ahead's alike.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_FileStream.h"

namespace RestoreTest {

struct CardReads {
    uint64_t once = 0;  // distinct bytes
    uint64_t twice = 0; // bytes fetched again
    static void Start(const std::filesystem::path& card);
    static CardReads Stop();
};

namespace detail {
inline std::mutex cardReadsMutex;
inline std::vector<AAA::ByteRange> cardReads;
inline struct stat cardFile {};

inline ssize_t CountingRead(int fd, void* buffer, size_t count) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    const ssize_t got = ::read(fd, buffer, count);
    struct stat file {};
    if (got > 0 && at >= 0 && ::fstat(fd, &file) == 0 && file.st_ino == cardFile.st_ino && file.st_dev == cardFile.st_dev) {
        const std::lock_guard<std::mutex> lock(cardReadsMutex);
        cardReads.push_back({static_cast<uint64_t>(at), static_cast<uint64_t>(got)});
    }
    return got;
}
} // namespace detail

inline void CardReads::Start(const std::filesystem::path& card) {
    detail::cardReads.clear();
    ::stat(card.c_str(), &detail::cardFile);
    AAA::FileStream::SetReadFunctionForTesting(&detail::CountingRead);
}

inline CardReads CardReads::Stop() {
    AAA::FileStream::SetReadFunctionForTesting(nullptr);
    const std::lock_guard<std::mutex> lock(detail::cardReadsMutex);
    CardReads result;
    AAA::ByteRangeSet seen;
    for (const AAA::ByteRange& read : detail::cardReads) {
        uint64_t again = 0;
        for (const AAA::ByteRange& part : seen.Within(read.start, read.length))
            again += part.length;
        result.twice += again;
        seen.Add(read.start, read.length);
    }
    result.once = seen.Bytes();
    return result;
}

} // namespace RestoreTest
