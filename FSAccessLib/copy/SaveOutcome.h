#pragma once
// What the save did with each target, for the summary and a report: where it
// went, what was left out and why.
#include <cstdint>
#include <string>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_WideString.h"

namespace FSAccessLib {

class DirEntry;

// Whether files that cross the end of a short image are written up to it.
enum class PartialFiles { Skip, Write };

enum class SaveStatus {
    Written,        // a new file (it may be damaged, cut short or moved up)
    AlreadyThere,   // something already had its host path: left alone
    OutOfMedia,     // its data lies beyond the volume: nothing to write
    SkippedPartial, // it crosses the end of the image; partial files not asked for
    Failed,         // its copy failed; nothing of it is left
    NotReached,     // the save stopped before it
};

struct SavedEntry {
    const DirEntry* entry = nullptr; // into the strategy's tree
    AAA::WString cardPath;           // the tree path, '\'-separated
    AAA::WString hostPath;           // where it went (or would have gone)
    bool folder = false;
    uint64_t length = 0;  // the entry's own length
    uint64_t written = 0; // bytes in the new file
    SaveStatus status = SaveStatus::Written;
    bool cutAtImageEnd = false; // written only up to the end of the image
    bool movedUp = false;       // its card folders were too deep for the host
    bool renamed = false;       // numbered: another entry of the run had its name
    int error = 0;              // the system's error number of a failure
    AAA::WString reason;        // the failure's message, naming the file
    std::string digest;         // of the bytes written, when digests were asked for
    // Ranges of the new file, by file offset, that hold zeros because the
    // card could not be read there.
    std::vector<AAA::ByteRange> unreadable;
};

} // namespace FSAccessLib
