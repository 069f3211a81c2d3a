#pragma once
// What several benchmarks share: memory figures of this process, the scratch
// folder where the large cards they make once are kept, and making one.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/MtoolsHelpers.h"

namespace BenchSupport {

// A kB field of /proc/self/status ("VmRSS", "VmHWM"), in bytes.
inline uint64_t StatusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::strtoull(line.c_str() + field.size() + 1, nullptr, 10) * 1024;
    return 0;
}

// $TMPDIR, or /tmp.
inline std::filesystem::path ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    return base && *base ? std::filesystem::path(base) : std::filesystem::path("/tmp");
}

// A sparse FAT32 card of `bytes` at `card`, formatted by mkfs.fat and filled
// by `fill(card)` (an error text, or empty) once: a ".done" marker tells a
// finished card from a run interrupted while writing it. An error text, or empty.
template <class Fill>
std::string PrepareFat32Card(const std::filesystem::path& card, uint64_t bytes, Fill fill) {
    std::filesystem::path done = card;
    done += ".done";
    if (std::filesystem::exists(done) && std::filesystem::exists(card) && std::filesystem::file_size(card) == bytes)
        return {};
    std::filesystem::remove(done);
    { std::ofstream create(card, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(card, bytes);
    if (TestSupport::MkfsFat(card, {"-F", "32"}).exitCode != 0)
        return "mkfs.fat failed";
    if (std::string error = fill(card); !error.empty())
        return error;
    std::ofstream(done).put('\n');
    return {};
}

} // namespace BenchSupport
