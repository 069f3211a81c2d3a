// FileStream against a plain read(2) loop over the same cached file, and the
// cost of byte-by-byte parsing with and without the read-ahead.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "AAA_FileStream.h"

namespace {

constexpr uint64_t kFileSize = uint64_t{1} << 30;  // 1 GiB
constexpr uint32_t kPiece = 1 << 20;               // 1 MiB per Read
constexpr uint64_t kByteWiseSize = 64ull << 20;    // 64 MiB one byte at a time
constexpr uint64_t kSyscallByteWiseSize = 4ull << 20;

std::string TempFolder() {
    const char* base = std::getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

void ReadAll(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> buffer(kPiece);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

// The 1 GiB file, created once (and kept for later runs), then read through so
// both contenders start from the page cache.
const std::string& BenchFile() {
    static const std::string path = [] {
        const std::string name = TempFolder() + "/kalvory_filestream_bench_1GiB.bin";
        struct stat info {};
        if (::stat(name.c_str(), &info) != 0 || static_cast<uint64_t>(info.st_size) != kFileSize) {
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0)
                throw std::runtime_error("cannot create " + name);
            std::vector<char> piece(kPiece);
            for (uint64_t written = 0; written < kFileSize; written += kPiece) {
                for (size_t i = 0; i < piece.size(); i += 4096)
                    piece[i] = static_cast<char>(written / kPiece + i);
                if (::write(fd, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size()))
                    throw std::runtime_error("cannot write " + name);
            }
            ::close(fd);
        }
        ReadAll(name);
        return name;
    }();
    return path;
}

void BM_PlainReadLoop(benchmark::State& state) {
    std::vector<char> buffer(kPiece);
    for (auto _ : state) {
        const int fd = ::open(BenchFile().c_str(), O_RDONLY | O_CLOEXEC);
        uint64_t total = 0;
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
            total += static_cast<uint64_t>(n);
        ::close(fd);
        if (total != kFileSize)
            state.SkipWithError("short plain read");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_FileStreamRead(benchmark::State& state) {
    std::vector<char> buffer(kPiece);
    const AAA::WString path = AAA::FromUtf8(BenchFile());
    for (auto _ : state) {
        AAA::FileStream stream(path, AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
        stream.blockSize = 512;
        uint64_t total = 0;
        uint32_t n;
        while ((n = stream.Read(buffer.data(), kPiece)) > 0)
            total += n;
        if (total != kFileSize)
            state.SkipWithError("short FileStream read");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_FileStreamByteByByte(benchmark::State& state) {
    const AAA::WString path = AAA::FromUtf8(BenchFile());
    for (auto _ : state) {
        AAA::FileStream stream(path, AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
        uint8_t byte = 0;
        uint64_t sum = 0;
        for (uint64_t i = 0; i < kByteWiseSize; ++i) {
            stream.Read(&byte, 1);
            sum += byte;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kByteWiseSize));
}

// What byte-wise parsing would cost with one system call per byte (a smaller
// span, as it is slow); compare bytes per second with the read-ahead above.
void BM_PlainReadByteByByte(benchmark::State& state) {
    for (auto _ : state) {
        const int fd = ::open(BenchFile().c_str(), O_RDONLY | O_CLOEXEC);
        uint8_t byte = 0;
        uint64_t sum = 0;
        for (uint64_t i = 0; i < kSyscallByteWiseSize; ++i) {
            if (::read(fd, &byte, 1) != 1)
                break;
            sum += byte;
        }
        ::close(fd);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSyscallByteWiseSize));
}

} // namespace

BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_FileStreamRead)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_FileStreamByteByByte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadByteByByte)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
