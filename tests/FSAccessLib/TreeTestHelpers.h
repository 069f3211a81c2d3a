#pragma once
// Small builders shared by the tree tests: entries, log capture, progress reset.
#include <cstdio>
#include <string>

#include "AAA_DebugLog.h"
#include "common/LogCapture.h"
#include "AAA_Progress.h"
#include "DirEntry.h"

namespace FSAccessTest {

inline FSAccessLib::DirEntry Folder(const std::u16string& name) {
    FSAccessLib::DirEntry entry;
    entry.name = name;
    return entry;
}

inline FSAccessLib::DirEntry File(const std::u16string& name, uint64_t start, uint64_t length) {
    FSAccessLib::DirEntry entry("", "");
    entry.name = name;
    entry.start = start;
    entry.length = length;
    return entry;
}

using KalvoryTest::LogCapture;

// Process-wide progress back to its start state at the end of a test.
struct ProgressReset {
    ~ProgressReset() {
        Restore::CurrentJob = nullptr;
        Restore::SetProgressTotal(0);
    }
};

} // namespace FSAccessTest
