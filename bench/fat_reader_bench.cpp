// FAT reader costs: walking a card with many files, and loading the table of
// a large FAT32 card (time and memory).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <string>

#include "AAA_DebugLog.h"
#include "AAA_Progress.h"
#include "BenchSupport.h"
#include "AAA_WideString.h"
#include "FSSpecFAT32.h"
#include "support/FatImageBuilder.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

namespace {

using FSAccessLib::DirEntry;
using FSAccessLib::FAT32::FSAccessFAT32;

// Hands freed heap pages back first, so that growth shows as growth.
void ResetPeakRss() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

AAA::WString Wide(const std::filesystem::path& path) {
    return AAA::FromUtf8(path.string());
}

enum class FolderLayout { Contiguous = 0, Interleaved = 1 };

// 20,000 small files in 200 folders on a 512 MiB FAT32 volume (512-byte
// clusters), built once per layout. Interleaved: each folder's 7 clusters lie
// 30 apart, its pictures in between, as a camera leaves them.
std::filesystem::path ManyFilesImage(FolderLayout layout) {
    static TestSupport::TempDir dir("fat-bench-tree");
    const auto path = dir / ("tree" + std::to_string(static_cast<int>(layout)) + ".img");
    if (std::filesystem::exists(path))
        return path;
    TestSupport::FatVolumeOptions options = TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat32);
    options.totalSectors = 1u << 20;
    TestSupport::FatImageBuilder builder(options);
    const std::string data(700, 'x');
    for (uint32_t folder = 0; folder < 200; ++folder) {
        const std::string name = "DCIM/" + std::to_string(100 + folder) + "CDPFP";
        TestSupport::FatEntryOptions spread;
        for (uint32_t j = 0; layout == FolderLayout::Interleaved && j < 7; ++j)
            spread.clusters.push_back(1000 + folder * 210 + j * 30);
        builder.AddFolder(name, spread);
        for (int i = 0; i < 100; ++i)
            builder.AddFile(name + "/IMGA" + std::to_string(1000 + i) + ".JPG", data);
    }
    builder.Build().WriteTo(path);
    return path;
}

void BM_BuildTree20000Files(benchmark::State& state) {
    const auto image = ManyFilesImage(static_cast<FolderLayout>(state.range(0)));
    int files = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FSAccessFAT32 reader(Wide(image));
        reader.Open();
        reader.ReadAllocationTable();
        reader.ReadRootDirectory();
        DirEntry root;
        state.ResumeTiming();
        files = reader.BuildTree(root);
        benchmark::DoNotOptimize(root.children.data());
    }
    state.counters["files"] = files;
    state.counters["files/s"] = benchmark::Counter(static_cast<double>(files) * state.iterations(),
                                                   benchmark::Counter::kIsRate);
    Restore::SetProgressTotal(0);
}
BENCHMARK(BM_BuildTree20000Files)
    ->ArgName("interleaved")
    ->Arg(static_cast<int>(FolderLayout::Contiguous))
    ->Arg(static_cast<int>(FolderLayout::Interleaved))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// A sparse 32 GiB FAT32 volume from mkfs.fat; arg 0 = its default cluster
// size, otherwise that many sectors per cluster.
std::filesystem::path LargeVolume(int sectorsPerCluster) {
    static TestSupport::TempDir dir("fat-bench-32g");
    const auto path = dir / ("card" + std::to_string(sectorsPerCluster) + ".img");
    if (std::filesystem::exists(path))
        return path;
    std::vector<std::string> argv{TestSupport::FindTool("mkfs.fat").value_or("mkfs.fat"), "-C", "-F", "32"};
    if (sectorsPerCluster != 0) {
        argv.push_back("-s");
        argv.push_back(std::to_string(sectorsPerCluster));
    }
    argv.push_back(path.string());
    argv.push_back(std::to_string(32ull * 1024 * 1024)); // KiB
    const auto result = TestSupport::RunCommand(argv);
    if (result.exitCode != 0)
        return {};
    return path;
}

void BM_ReadAllocationTable32GiB(benchmark::State& state) {
    const auto image = LargeVolume(static_cast<int>(state.range(0)));
    if (image.empty()) {
        state.SkipWithError("mkfs.fat could not make the volume");
        return;
    }
    double entries = 0, tableBytes = 0, rssDelta = 0, peakDelta = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ResetPeakRss();
        const uint64_t rssBefore = BenchSupport::StatusBytes("VmRSS");
        auto reader = std::make_unique<FSAccessFAT32>(Wide(image));
        reader->Open();
        state.ResumeTiming();
        reader->ReadAllocationTable();
        state.PauseTiming();
        entries = static_cast<double>(reader->fat.Entry.size());
        tableBytes = static_cast<double>(reader->fat.MemoryBytes());
        // Freed tables stay in the heap after the first round, so the first
        // round's growth is the one that tells.
        rssDelta = std::max(rssDelta, static_cast<double>(BenchSupport::StatusBytes("VmRSS") - rssBefore));
        peakDelta = std::max(peakDelta, static_cast<double>(BenchSupport::StatusBytes("VmHWM") - rssBefore));
        reader.reset();
        state.ResumeTiming();
    }
    state.counters["entries"] = entries;
    state.counters["tableMiB"] = tableBytes / (1 << 20);
    state.counters["rssDeltaMiB"] = rssDelta / (1 << 20);
    state.counters["peakDeltaMiB"] = peakDelta / (1 << 20);
    state.counters["rss/table"] = tableBytes > 0 ? rssDelta / tableBytes : 0;
    state.counters["bytes/entry"] = entries > 0 ? tableBytes / entries : 0;
    Restore::SetProgressTotal(0);
}
BENCHMARK(BM_ReadAllocationTable32GiB)->Arg(0)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
