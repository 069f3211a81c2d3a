#pragma once
// The recovery targets of a verified tree, as text lines or as JSON.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "DirEntry.h"

namespace KalvoryCli {

struct TargetInfo {
    std::string path; // relative host path the file would be saved under
    uint64_t size = 0;
    bool directory = false;
    bool deleted = false;
    bool carved = false;
    bool chainBroken = false;
    bool partial = false;
    std::vector<std::pair<uint64_t, uint64_t>> extents; // start, length
};

std::vector<TargetInfo> CollectTargets(FSAccessLib::DirEntry& root);

std::string FormatTargetsText(const std::vector<TargetInfo>& targets);
std::string FormatTargetsJson(const std::string& source, const std::vector<TargetInfo>& targets);

// JSON string literal for UTF-8 text (quotes included).
std::string JsonString(const std::string& text);

} // namespace KalvoryCli
