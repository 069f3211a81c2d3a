// The sector search over a 32 GiB FAT32 card quick-formatted over a few dozen
// scattered streams and JPEGs, against `cat IMAGE > /dev/null` of the same
// warmed image: time, peak memory, and the cost of the skip test per sector.
// The sparse card is made once and kept in $TMPDIR (kalvory-bench-search-32g.img).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <string>

#include "AAA_Progress.h"
#include "BenchSupport.h"
#include "AAA_WideString.h"
#include "FSSpecFAT32.h"
#include "SectorSearch.h"
#include "support/MediaSamples.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kCardBytes = 32ull << 30;
constexpr int kStreams = 24;
constexpr int kPictures = 24;

fs::path CardPath() { return BenchSupport::ScratchFolder() / "kalvory-bench-search-32g-v2.img"; }

std::string Packets(size_t count, uint32_t seed) {
    std::string bytes(count * 192, static_cast<char>(0x20 + seed % 64));
    for (size_t i = 0; i < count; ++i) {
        const uint32_t ats = (1000 + seed * 77 + static_cast<uint32_t>(i) * 2256) & 0x3FFFFFFF;
        for (int b = 0; b < 4; ++b)
            bytes[i * 192 + static_cast<size_t>(b)] = static_cast<char>(ats >> (24 - 8 * b));
        bytes[i * 192 + 4] = 0x47;
        bytes[i * 192 + 5] = static_cast<char>(i == 0 ? 0x40 : 0x50);
        bytes[i * 192 + 6] = static_cast<char>(i == 0 ? 0x00 : 0x11);
    }
    return bytes;
}

// An Exif JPEG shell: SOI, APP1 "Exif", a scan, EOI.
std::string Picture(uint32_t seed) {
    std::string jpeg("\xFF\xD8\xFF\xE1\x00\x10"
                     "Exif\0\0",
                     12);
    jpeg.append(8, '\0');
    jpeg += std::string("\xFF\xDA\x00\x08", 4) + std::string(6, '\0');
    jpeg.append(200000 + seed * 1000, static_cast<char>(0x11));
    jpeg += "\xFF\xD9";
    return jpeg;
}

std::string PrepareCard() {
    return BenchSupport::PrepareFat32Card(CardPath(), kCardBytes, [](const fs::path& card) -> std::string {
        // The data stays where the files were; the format left only new tables.
        // Real media when the tools are there, so that other carvers meet it too.
        TestSupport::TempDir scratch("kalvory-bench-media");
        std::fstream out(card, std::ios::binary | std::ios::in | std::ios::out);
        for (int i = 0; i < kStreams + kPictures; ++i) {
            const uint64_t at = (1ull << 30) + uint64_t(i) * (kCardBytes - (2ull << 30)) / (kStreams + kPictures);
            const auto seed = static_cast<uint32_t>(i);
            const auto real = i % 2 == 0 ? TestSupport::FfmpegStream(scratch.Path(), 3)
                                         : TestSupport::ToolMadeJpeg(scratch.Path(), i, true);
            const std::string bytes = real ? *real : i % 2 == 0 ? Packets(16000, seed) : Picture(seed);
            out.seekp(static_cast<std::streamoff>(at / 32768 * 32768));
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        out.close();
        return {};
    });
}

double CatSeconds() {
    const auto begin = std::chrono::steady_clock::now();
    const int status = std::system(("cat '" + CardPath().string() + "' > /dev/null").c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return status == 0 ? seconds : -1;
}

// Arg: 1 reads the folders the scan meets (the directory-and-sector search), 0 not.
void BM_SectorSearch32GiBAgainstCat(benchmark::State& state) {
    if (const std::string error = PrepareCard(); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    CatSeconds(); // warm the page cache
    double bestCat = 1e9, searchSeconds = 0, peakDelta = 0, sectors = 0, queries = 0, carved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bestCat = std::min({bestCat, CatSeconds(), CatSeconds()});
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        const uint64_t rssBefore = BenchSupport::StatusBytes("VmRSS");
        FSAccessLib::FAT32::FSAccessFAT32 reader(AAA::FromUtf8(CardPath().string()));
        reader.Open();
        reader.ReadAllocationTable();
        reader.ReadRootDirectory();
        FSAccessLib::DirEntry root;
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        Kalvory::SectorSearcher searcher(reader, root, Kalvory::KnownCarvingFormats(),
                                         state.range(0) != 0 ? Kalvory::FoundFolders::Read : Kalvory::FoundFolders::Ignore);
        carved = searcher.Run();
        searchSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.PauseTiming();
        peakDelta = static_cast<double>(BenchSupport::StatusBytes("VmHWM") - rssBefore);
        sectors = static_cast<double>(searcher.SectorsTested());
        queries = static_cast<double>(searcher.CoverageQueries());
        state.ResumeTiming();
    }
    state.counters["carved"] = carved;
    state.counters["searchS"] = searchSeconds;
    state.counters["bestCatS"] = bestCat;
    state.counters["search/cat"] = searchSeconds / bestCat;
    state.counters["peakDeltaMiB"] = peakDelta / (1 << 20);
    state.counters["sectors"] = sectors;
    state.counters["indexQueries"] = queries;
    state.counters["ns/sector"] = searchSeconds * 1e9 / std::max(sectors, 1.0);
    Restore::SetProgressTotal(0);
}
BENCHMARK(BM_SectorSearch32GiBAgainstCat)->ArgName("foundFolders")->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// The skip test alone: one coverage answer per sector over a tree of 100,000
// files, as the scan asks it.
void BM_CoveragePerSector(benchmark::State& state) {
    FSAccessLib::DirEntry root;
    for (uint64_t i = 0; i < 100000; ++i) {
        FSAccessLib::DirEntry file("F", "JPG");
        file.start = i * 1000 * 512;
        file.length = 300 * 512;
        root.children.push_back(file);
    }
    root.Relink(nullptr);
    Kalvory::CoverageCursor cursor(root);
    uint64_t offset = 0;
    for (auto _ : state) {
        uint64_t end = 0;
        if (cursor.Covered(offset, end))
            offset = end;
        else
            offset += 512;
        if (offset > 100000ull * 1000 * 512) {
            cursor.Rebuild();
            offset = 0;
        }
    }
    state.counters["indexQueries"] = static_cast<double>(cursor.IndexQueries());
}
BENCHMARK(BM_CoveragePerSector);

} // namespace

BENCHMARK_MAIN();
