#pragma once
// What several benchmarks share: memory figures of this process, and the
// scratch folder where the large cards they make once are kept.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

} // namespace BenchSupport
