#pragma once
// The SHA-256 of files the recovery wrote, for its report.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "AAA_Digest.h"

namespace KalvoryCli {

// SHA-256 digests for the engine to compute while it writes.
AAA::DigestMaker Sha256Digests();

// Lowercase hex; nullopt when the file cannot be read, or when `progress`,
// given the bytes read so far after every piece, answers false (stop).
std::optional<std::string> FileSha256(const std::filesystem::path& file,
                                      const std::function<bool(uint64_t)>& progress = {});

} // namespace KalvoryCli
