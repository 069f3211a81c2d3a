// The exFAT reader on a 64 GiB card image (sparse) holding a few hundred clips
// and photos: Open, ReadAllocationTable and BuildTree, with the peak of heap
// bytes each one allocates.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "AAA_WideString.h"
#include "FSSpecExFAT.h"
#include "support/ExFatImageBuilder.h"
#include "support/TempDir.h"

// ---- Heap accounting: every allocation of the process passes here ------------------------------------

namespace {

std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};

void Count(void* block) {
    if (!block)
        return;
    const auto now = liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(block))) +
                     static_cast<int64_t>(malloc_usable_size(block));
    int64_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}

void* Allocate(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    Count(block);
    return block;
}

void Release(void* block) {
    if (!block)
        return;
    liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)));
    std::free(block);
}

// Peak heap growth over the scope, above what was live when it began.
class PeakScope {
public:
    PeakScope() : base_(liveBytes.load()) { peakBytes.store(base_); }
    int64_t Growth() const { return peakBytes.load() - base_; }

private:
    int64_t base_;
};

} // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }

// ---- The card ------------------------------------------------------------------------------------------------------

namespace {

using FSAccessLib::DirEntry;
using FSAccessLib::ExFAT::FSAccessExFAT;

constexpr int kFolders = 6;
constexpr int kFilesPerFolder = 50;

// A camcorder-like card: DCIM folders of photos, an AVCHD stream folder of
// large clips (some over 4 GiB), a few deleted and contiguous (NoFatChain) ones.
struct Card {
    Card();
    TestSupport::TempDir dir{"exfat-bench"};
    std::string path;
    int files = 0;
};

Card::Card() {
    Card& c = *this;
    {
        TestSupport::ExFatGeometry geometry;
        geometry.volumeBytes = 64ull << 30;
        TestSupport::ExFatImageBuilder image(geometry);
        for (int folder = 0; folder < kFolders; ++folder) {
            const std::string base = folder == 0 ? "PRIVATE/AVCHD/BDMV/STREAM/" : "DCIM/" + std::to_string(100 + folder) + "CANON/";
            for (int i = 0; i < kFilesPerFolder; ++i) {
                TestSupport::ExFatEntryOptions options;
                const bool clip = folder == 0;
                options.dataLength = clip ? (i % 10 == 0 ? (4ull << 30) + 12345 : (600ull << 20) + i) : (6ull << 20) + i * 977;
                options.noFatChain = i % 7 == 0;
                const std::string name = clip ? std::to_string(10000 + i) + ".MTS" : "IMG_" + std::to_string(1000 + i) + ".JPG";
                image.AddFile(base + name, "head", options);
                if (i % 9 == 4)
                    image.DeleteEntry(base + name);
                ++c.files;
            }
        }
        c.path = (c.dir / "card64g.img").string();
        image.WriteTo(c.path);
    }
}

const Card& TheCard() {
    static const Card card;
    return card;
}

std::unique_ptr<FSAccessExFAT> OpenedReader() {
    auto reader = std::make_unique<FSAccessExFAT>(AAA::FromUtf8(TheCard().path));
    if (!reader->Open())
        std::abort();
    return reader;
}

void BM_Open(benchmark::State& state) {
    int64_t peak = 0;
    for (auto _ : state) {
        PeakScope scope;
        FSAccessExFAT reader(AAA::FromUtf8(TheCard().path));
        benchmark::DoNotOptimize(reader.Open());
        peak = std::max(peak, scope.Growth());
    }
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
}

void BM_ReadAllocationTable(benchmark::State& state) {
    int64_t peak = 0;
    uint64_t entries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto reader = OpenedReader();
        state.ResumeTiming();
        PeakScope scope;
        reader->ReadAllocationTable();
        peak = std::max(peak, scope.Growth());
        entries = reader->fat.Entry.size();
        state.PauseTiming();
        reader.reset();
        state.ResumeTiming();
    }
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
    state.counters["table_entries"] = static_cast<double>(entries);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * entries * 4));
}

void BM_BuildTree(benchmark::State& state) {
    auto reader = OpenedReader();
    reader->ReadAllocationTable();
    reader->ReadRootDirectory();
    int64_t peak = 0;
    int files = 0;
    for (auto _ : state) {
        auto root = std::make_unique<DirEntry>();
        PeakScope scope;
        files = reader->BuildTree(*root);
        peak = std::max(peak, scope.Growth());
        state.PauseTiming();
        root.reset();
        state.ResumeTiming();
    }
    if (files != TheCard().files)
        state.SkipWithError("tree does not hold every file of the card");
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
    state.counters["files"] = files;
}

} // namespace

BENCHMARK(BM_Open)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadAllocationTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildTree)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
