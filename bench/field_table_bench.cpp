// Reading a 4,194,304-entry 32-bit allocation table through the record model:
// time, the table's own memory, and the process's peak resident size growth.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "AAA_DebugLog.h"
#include "AAA_Field.h"
#include "AAA_FileStream.h"
#include "support/TempDir.h"

namespace {

constexpr size_t kEntries = 4194304;
constexpr size_t kTableBytes = kEntries * 4;

using Table = AAA::Array<AAA::Field::LE>;

long PeakRssKiB() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::vector<uint8_t> TableBytes() {
    std::mt19937 random(42);
    std::vector<uint8_t> bytes(kTableBytes);
    for (size_t i = 0; i < bytes.size(); i += 4) {
        const uint32_t value = random() & 0x0FFFFFFF; // FAT32-style entries
        for (size_t k = 0; k < 4; ++k)
            bytes[i + k] = static_cast<uint8_t>(value >> (8 * k));
    }
    return bytes;
}

AAA::MemoryStream& SourceStream() {
    static AAA::MemoryStream stream(TableBytes());
    return stream;
}

void ReadTable(Table& table, AAA::Stream& stream) {
    stream.Seek(0, AAA::SeekBegin);
    AAA::BitReader reader(stream);
    AAA::LogThresholdCeiling quiet(6);
    table.Read(reader);
}

// Construct, size and read the table, as a reader opening a volume does.
void BM_ResizeAndReadTable(benchmark::State& state) {
    // The peak is a high-water mark, so the baseline is taken once, before any table exists.
    static const long rssBefore = [] {
        SourceStream();
        return PeakRssKiB();
    }();
    AAA::MemoryStream& stream = SourceStream();
    size_t memory = 0;
    for (auto _ : state) {
        Table table(32, "Entry");
        table.Resize(kEntries);
        ReadTable(table, stream);
        memory = table.MemoryBytes();
        benchmark::DoNotOptimize(table.Value(kEntries - 1));
    }
    state.counters["MemoryBytes"] = static_cast<double>(memory);
    state.counters["PeakRssDeltaMiB"] = static_cast<double>(PeakRssKiB() - rssBefore) / 1024.0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTableBytes));
}

// Reading again into an existing table.
void BM_ReadTableOnly(benchmark::State& state) {
    AAA::MemoryStream& stream = SourceStream();
    Table table(32, "Entry");
    table.Resize(kEntries);
    for (auto _ : state) {
        ReadTable(table, stream);
        benchmark::DoNotOptimize(table.Value(0));
    }
    state.counters["MemoryBytes"] = static_cast<double>(table.MemoryBytes());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTableBytes));
}

// The same table read from a file through FileStream, as from a card image.
void BM_ReadTableFromFile(benchmark::State& state) {
    TestSupport::TempDir dir("kalvory-bench");
    {
        AAA::FileStream out(AAA::FromUtf8((dir / "fat.bin").string()), AAA::OpenMode::Create, AAA::OpenAccess::Write);
        const auto& bytes = SourceStream().Bytes();
        out.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    AAA::FileStream file(AAA::FromUtf8((dir / "fat.bin").string()), AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
    file.blockSize = 512;
    Table table(32, "Entry");
    table.Resize(kEntries);
    for (auto _ : state) {
        ReadTable(table, file);
        benchmark::DoNotOptimize(table.Value(0));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTableBytes));
}

// Walking every entry through the field interface, as a chain follower does.
void BM_SumEntryValues(benchmark::State& state) {
    Table table(32, "Entry");
    table.Resize(kEntries);
    ReadTable(table, SourceStream());
    for (auto _ : state) {
        uint64_t sum = 0;
        for (size_t i = 0; i < table.size(); ++i)
            sum += table[i].Value();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}

} // namespace

BENCHMARK(BM_ResizeAndReadTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTableOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTableFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SumEntryValues)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
