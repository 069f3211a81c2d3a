// Feeds every file of the given corpus folders (or the given files) to the
// fuzz target once, so a normal build replays the seeds and the saved
// findings without libFuzzer. A finding shows as a crash, a sanitizer report
// or an exception leaving the target, as it did under the fuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

void Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path place(argv[i]);
        std::vector<fs::path> files;
        if (fs::is_directory(place)) {
            for (const auto& entry : fs::recursive_directory_iterator(place))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else if (fs::is_regular_file(place)) {
            files.push_back(place);
        }
        for (const fs::path& file : files) {
            Replay(file);
            ++inputs;
        }
    }
    std::printf("replayed %zu inputs\n", inputs);
    // No input at all means the corpus was not made: a replay of nothing proves nothing.
    return inputs > 0 ? 0 : 1;
}
