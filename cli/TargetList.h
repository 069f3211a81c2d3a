#pragma once
// The recovery targets of a verified tree, as text lines or as JSON.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "AAA_ByteRanges.h"
#include "DirEntry.h"
#include "Kalvory_CardScan.h"

namespace Kalvory {
class KalvoryBase;
}

namespace KalvoryCli {

// Where one piece of a target's data lies.
struct TargetExtent {
    int64_t start = 0; // from the volume's start: negative before it (a whole card's gap)
    uint64_t length = 0;
    uint64_t cardStart = 0; // from the card's start (the same as `start` for a bare volume)
};

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
    bool repaired = false; // its index rebuilt: the file is the card's bytes and a made moov
    std::vector<TargetExtent> extents;
    // Parts of the file, by file offset, on sectors the verification could not
    // read (a save writes zeros there).
    std::vector<AAA::ByteRange> damaged;
};

// What the tree alone does not tell about a target.
struct ListContext {
    uint64_t imageEnd = UINT64_MAX;             // bytes the source really holds (from the volume's start)
    const AAA::ByteRangeSet* unreadable = nullptr; // source bytes no read could get
    Kalvory::CardPlace place;                   // where the stream's offsets lie on the card
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
