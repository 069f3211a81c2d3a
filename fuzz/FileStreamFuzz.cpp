// The stream's seeks, reads, copies and length queries, driven by the input,
// each answer checked against pread of the same bytes. The first bytes shape
// the source: its block size, a bad range, where it ends, short reads.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "AAALib/StreamDifferential.h"

namespace {

constexpr uint64_t kSourceBytes = 3 << 20;

struct Scratch {
    std::filesystem::path folder;
    std::filesystem::path file;
    Scratch() {
        char pattern[] = "/tmp/kalvory-fuzz-stream-XXXXXX";
        folder = ::mkdtemp(pattern);
        file = folder / "source.bin";
        StreamCheck::WriteRandomFile(file, kSourceBytes, 7);
    }
    ~Scratch() { std::filesystem::remove_all(folder); }
};

uint32_t Word(const uint8_t* data) {
    return static_cast<uint32_t>(data[0]) | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    if (size < 10)
        return 0;
    StreamCheck::SourceShape shape;
    shape.what = "fuzzed source";
    constexpr uint32_t kBlocks[] = {1, 512, 4096, 512};
    shape.blockSize = kBlocks[data[0] & 3];
    shape.kind = data[0] & 4 ? StreamCheck::StreamKind::Progress : StreamCheck::StreamKind::Plain;
    shape.reads = data[0] & 8 ? StreamCheck::ReadSizes::Short : StreamCheck::ReadSizes::Whole;
    if (data[0] & 16) {
        const uint64_t start = Word(data + 1) % kSourceBytes;
        shape.bad.push_back({start, start + 1 + data[5] * 64});
    }
    if (data[0] & 32)
        shape.readableEnd = Word(data + 6) % (kSourceBytes + 1);
    StreamCheck::Runner runner(scratch.file, scratch.folder, shape);
    const StreamCheck::RunResult result = runner.Run(StreamCheck::OpsFromBytes(data + 10, size - 10, kSourceBytes));
    if (!result.mismatch.empty()) {
        std::fprintf(stderr, "after %zu operations: %s\n", result.opsRun, result.mismatch.c_str());
        std::abort();
    }
    return 0;
}
