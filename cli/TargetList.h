#pragma once
// The recovery targets of a verified tree, as text lines or as JSON.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "AAA_ByteRanges.h"
#include "DirEntry.h"

namespace Kalvory {
class KalvoryBase;
}

namespace KalvoryCli {

struct TargetInfo {
    std::string path; // relative host path the file would be saved under
    std::string found;     // "directory", "deleted", "found-folder" or "carved"
    std::string signature; // what a carved file was found by; empty otherwise
    bool renamed = false;  // numbered: another entry of the run had its name
    uint64_t size = 0;
    bool directory = false;
    bool deleted = false;
    bool carved = false;
    bool chainBroken = false;
    bool partial = false;        // cut short, or crossing the end of the image
    bool pathShortened = false;  // its card folders are too deep: placed higher up
    // Its data fails its check from `matchingBytes` on: other files' data.
    bool overwritten = false;
    uint64_t matchingBytes = 0;
    bool leftOut = false; // overwritten and therefore not saved
    std::vector<std::pair<uint64_t, uint64_t>> extents; // start, length
    // Parts of the file, by file offset, on sectors the verification could not
    // read (a save writes zeros there).
    std::vector<AAA::ByteRange> damaged;
};

// What the tree alone does not tell about a target.
struct ListContext {
    uint64_t imageEnd = UINT64_MAX;             // bytes the source really holds
    const AAA::ByteRangeSet* unreadable = nullptr; // source bytes no read could get
};
ListContext ListContextOf(const Kalvory::KalvoryBase& strategy);

std::vector<TargetInfo> CollectTargets(FSAccessLib::DirEntry& root, const ListContext& context = {});
// One target, saved (or to be saved) at `relativePath` below the destination.
TargetInfo DescribeTarget(const FSAccessLib::DirEntry& entry, std::string relativePath, const ListContext& context);

// Where a file left out as overwritten would have gone (its names made safe,
// not numbered: it takes no name from the save).
std::string LeftOutPath(const FSAccessLib::DirEntry& entry);

// The fields of a target's JSON object, without its braces; the listing and
// the recovery report share them.
std::string TargetJsonFields(const TargetInfo& target);
// A JSON array of byte ranges.
std::string RangesJson(const std::vector<AAA::ByteRange>& ranges);

// The version of the JSON the listing and the report write.
constexpr int kJsonFormat = 1;

std::string FormatTargetsText(const std::vector<TargetInfo>& targets);
// `sourceMembers`: further members after "source", each with its leading comma.
std::string FormatTargetsJson(const std::string& source, const std::vector<TargetInfo>& targets,
                              const std::string& sourceMembers = {});

// JSON string literal for UTF-8 text (quotes included).
std::string JsonString(const std::string& text);

// The text with its line breaks folded into single blanks.
std::string OneLine(const std::string& text);

} // namespace KalvoryCli
