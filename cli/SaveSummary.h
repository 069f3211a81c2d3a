#pragma once
// The lines after a save's summary that tell what did not come back whole:
// damaged, cut or skipped files, failures, what a stopped save never reached.
#include <string>

#include "Kalvory_Recover.h"

namespace KalvoryCli {

// Files listed under one line before " and N more".
constexpr size_t kFilesListed = 20;

// Whether the files a stopped save never reached are listed (not after a
// cancel: the user knows).
enum class UnreachedFiles { List, Omit };

// Empty when every target came back whole.
std::string FormatSaveProblems(const Kalvory::KalvoryBase& strategy, UnreachedFiles unreached);

// What a save wrote, as both front ends tell it at its end.
struct SaveFacts {
    uint64_t files = 0; // new files in the destination
    uint64_t bytes = 0;
    std::string where;  // the destination
    int32_t result = 0; // the save's result state (0 done, 2 cancelled, -1 failed)
    Kalvory::OverwrittenFiles overwritten = Kalvory::OverwrittenFiles::Skip;
};
// The summary lines, then the problems; every line ends in a line break.
std::string FormatSaveSummary(const Kalvory::KalvoryBase& strategy, const SaveFacts& facts);

} // namespace KalvoryCli
