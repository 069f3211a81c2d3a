// A whole directory recovery (verify, then save) of a 2 GiB FAT32 card holding
// about 1.5 GiB of clips, against a plain sequential read of the same image
// (what `cat IMAGE > /dev/null` does) and a plain copy of as many bytes.
// The card is made once with mkfs.fat and mcopy and kept in $TMPDIR for later
// runs; delete kalvory-bench-fat32-2g.img* there to reclaim the space.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "AAA_Progress.h"
#include "BenchSupport.h"
#include "AAA_WideString.h"
#include "Restore_Thread.h"
#include "support/MtoolsHelpers.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kCardBytes = 2ull << 30;
constexpr int kClipCount = 6;
constexpr uint64_t kClipBytes = 256ull << 20;
constexpr size_t kBlock = 1u << 20;

fs::path CardPath() { return BenchSupport::ScratchFolder() / "kalvory-bench-fat32-2g.img"; }

bool RunMtool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"env", "MTOOLS_SKIP_CHECK=1"});
    return TestSupport::RunCommand(arguments).exitCode == 0;
}

void WriteClip(const fs::path& file, int clip) {
    std::string block(kBlock, '\0');
    uint32_t state = 977u * static_cast<uint32_t>(clip + 1);
    for (char& byte : block) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (uint64_t index = 0; index < kClipBytes / kBlock; ++index) {
        block[0] = static_cast<char>(index);
        block[1] = static_cast<char>(index >> 8);
        out.write(block.data(), kBlock);
    }
}

// The card of clips, made on first use.
std::string PrepareCard() {
    return BenchSupport::PrepareFat32Card(CardPath(), kCardBytes, [](const fs::path& card) -> std::string {
        const std::string image = card.string();
        if (!RunMtool({"mmd", "-i", image, "::DCIM", "::PRIVATE", "::PRIVATE/AVCHD", "::PRIVATE/AVCHD/BDMV",
                       "::PRIVATE/AVCHD/BDMV/STREAM"}))
            return "mmd failed";
        fs::path staging = card;
        staging += ".clip";
        for (int clip = 0; clip < kClipCount; ++clip) {
            WriteClip(staging, clip);
            if (!RunMtool({"mcopy", "-i", image, staging.string(),
                           "::PRIVATE/AVCHD/BDMV/STREAM/0000" + std::to_string(clip) + ".MTS"}))
                return "mcopy failed";
        }
        fs::remove(staging);
        return {};
    });
}

// What `cat IMAGE > /dev/null` does: read(2) in large pieces to the end.
uint64_t ReadWhole(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0)
        return 0;
    std::vector<char> buffer(kBlock);
    uint64_t total = 0;
    for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
        total += static_cast<uint64_t>(got);
    ::close(fd);
    return total;
}

void BM_ReadWholeImage(benchmark::State& state) {
    if (const std::string error = PrepareCard(); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    ReadWhole(CardPath()); // warm the page cache, as a second `cat` would find it
    uint64_t bytes = 0;
    for (auto _ : state)
        bytes += ReadWhole(CardPath());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_RecoverDirectory(benchmark::State& state) {
    if (const std::string error = PrepareCard(); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    ReadWhole(CardPath());
    const fs::path out = BenchSupport::ScratchFolder() / "kalvory-bench-out";
    uint64_t saved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        state.ResumeTiming();
        Restore::RestoreMain job(0, AAA::FromUtf8(CardPath().string()));
        job.SetDestination(AAA::FromUtf8(out.string()));
        if (job.ResultState() == Restore::TargetsFound) {
            job.StartVerify(nullptr, nullptr);
            job.Wait();
        }
        if (job.ResultState() == Restore::TargetsFound) {
            job.StartSave(nullptr, nullptr);
            job.Wait();
        }
        if (job.ResultState() != Restore::TargetsFound) {
            state.SkipWithError(AAA::ToUtf8(job.ErrorText()).c_str());
            break;
        }
        saved += Restore::ProgressWritten.load();
    }
    state.SetBytesProcessed(static_cast<int64_t>(saved));
    fs::remove_all(out);
    Restore::CurrentJob = nullptr;
    Restore::SetProgressTotal(0);
}

// The floor for any recovery: as many bytes read from the warm image and written
// into six fresh host files, in the copy's piece size, with no file system logic.
void BM_PlainCopyOfTheClipBytes(benchmark::State& state) {
    if (const std::string error = PrepareCard(); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    ReadWhole(CardPath());
    const fs::path out = BenchSupport::ScratchFolder() / "kalvory-bench-copy";
    std::vector<char> buffer(512u << 10);
    uint64_t copied = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(out);
        fs::create_directories(out);
        state.ResumeTiming();
        const int in = ::open(CardPath().c_str(), O_RDONLY);
        for (int clip = 0; clip < kClipCount; ++clip) {
            const int fd = ::open((out / std::to_string(clip)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            for (uint64_t done = 0; done < kClipBytes;) {
                const ssize_t got = ::read(in, buffer.data(), buffer.size());
                if (got <= 0 || ::write(fd, buffer.data(), static_cast<size_t>(got)) != got)
                    break;
                done += static_cast<uint64_t>(got);
                copied += static_cast<uint64_t>(got);
            }
            ::close(fd);
        }
        ::close(in);
    }
    state.SetBytesProcessed(static_cast<int64_t>(copied));
    fs::remove_all(out);
}

// Verification alone: opening the card, reading its tables and walking the tree.
void BM_VerifyOnly(benchmark::State& state) {
    if (const std::string error = PrepareCard(); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    ReadWhole(CardPath());
    for (auto _ : state) {
        Restore::RestoreMain job(0, AAA::FromUtf8(CardPath().string()));
        job.StartVerify(nullptr, nullptr);
        job.Wait();
        if (job.ResultState() != Restore::TargetsFound) {
            state.SkipWithError(AAA::ToUtf8(job.ErrorText()).c_str());
            break;
        }
    }
    Restore::CurrentJob = nullptr;
    Restore::SetProgressTotal(0);
}

BENCHMARK(BM_ReadWholeImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainCopyOfTheClipBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_VerifyOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_RecoverDirectory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
