// Parsing a 2,000-frame interleaved DV clip (NTSC and PAL) from a file
// through the engine's buffered file stream: time per clip, and how many
// reads per frame the walk makes. The clip's chunk heads are written into a
// sparse file in $TMPDIR, kept between runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "AAA_FileStream.h"
#include "AAA_WideString.h"
#include "DV_Clip.h"
#include "support/DvClipWriter.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFrames = 2000;

// Counts the reads the walk asks of the stream below.
class CountingStream : public AAA::Stream {
public:
    explicit CountingStream(AAA::Stream& inner) : inner_(inner) {}
    int64_t Seek(int64_t offset, int origin) override { return inner_.Seek(offset, origin); }
    uint32_t Read(void* buffer, uint32_t count) override {
        ++reads;
        return inner_.Read(buffer, count);
    }
    void Write(const void* buffer, uint32_t count) override { inner_.Write(buffer, count); }
    int64_t Length() override { return inner_.Length(); }
    uint64_t reads = 0;

private:
    AAA::Stream& inner_;
};

fs::path ClipPath(TestSupport::DvVideoSystem system) {
    const char* base = std::getenv("TMPDIR");
    const char* name = system == TestSupport::DvVideoSystem::Pal ? "kalvory-bench-dv-pal.img" : "kalvory-bench-dv-ntsc.img";
    return (base && *base ? fs::path(base) : fs::path("/tmp")) / name;
}

// A clip whose PCM units come every 8 units of audio, with gaps besides at
// the places the walk searches.
uint64_t PrepareClip(TestSupport::DvVideoSystem system) {
    using enum TestSupport::DvGapPlace;
    const TestSupport::DvClipLayout clip =
        TestSupport::WriteDvClip({.system = system,
                                  .frames = kFrames,
                                  .gaps = {{DifSequence, 3}, {LastDifSequence, 2}, {Audio, 1}, {FrameStart, 1}},
                                  .pcmFlushUnits = 8,
                                  .payload = false});
    const fs::path path = ClipPath(system);
    if (!fs::exists(path) || fs::file_size(path) != clip.span) {
        std::ofstream(path, std::ios::binary | std::ios::trunc).close();
        fs::resize_file(path, clip.span);
        TestSupport::PutDvClip(path, 0, clip);
    }
    return clip.aviOffset;
}

void BM_ParseDvClip(benchmark::State& state) {
    const auto system = static_cast<TestSupport::DvVideoSystem>(state.range(0));
    const uint64_t start = PrepareClip(system);
    AAA::FileStream file(AAA::FromUtf8(ClipPath(system).string()), AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
    CountingStream stream(file);
    Kalvory::DvClip clip;
    for (auto _ : state) {
        stream.reads = 0;
        benchmark::DoNotOptimize(Kalvory::ParseDvClip(clip, stream, start));
    }
    state.counters["reads/frame"] = static_cast<double>(stream.reads) / kFrames;
    state.counters["aviExtents"] = static_cast<double>(clip.aviChain.size());
    state.counters["frames/s"] = benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ParseDvClip)->Arg(0)->Arg(1)->ArgName("pal")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
