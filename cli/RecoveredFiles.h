#pragma once
// What a save added to the destination: the files that were not there before.
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace KalvoryCli {

class RecoveredFiles {
public:
    // Remembers the files already in `destination`.
    explicit RecoveredFiles(std::filesystem::path destination);
    // Counts the files that appeared since construction.
    void Measure();

    uint64_t Files() const { return files_; }
    uint64_t Bytes() const { return bytes_; }

private:
    std::filesystem::path destination_;
    std::set<std::filesystem::path> before_;
    uint64_t files_ = 0;
    uint64_t bytes_ = 0;
};

// "1.5 MiB" style text for a byte count.
std::string HumanBytes(uint64_t bytes);

} // namespace KalvoryCli
