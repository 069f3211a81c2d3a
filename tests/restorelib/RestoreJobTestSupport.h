#pragma once
// Shared pieces of the restore job tests: a fixture that resets the process-wide
// job state, a synchronous way to run the workers, deterministic file contents
// and a reader for everything a recovery left in a folder.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "AAALib/LogCapture.h"
#include "AAA_DebugLog.h"
#include "AAA_Progress.h"
#include "AAA_StringTable.h"
#include "Kalvory_Recover.h"
#include "Restore_Thread.h"
#include "support/TempDir.h"

namespace RestoreTest {

namespace fs = std::filesystem;

// Bytes that differ per seed and position, so a misplaced block shows.
inline std::string Pattern(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 7;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// What one completion callback saw; `calls` counts the callbacks.
struct Completion {
    std::atomic<int> calls{0};
    int32_t resultState = 99;
    std::u16string errorText;
};

inline void RecordCompletion(CompletionRecord* record) {
    auto* completion = static_cast<Completion*>(record->user);
    completion->resultState = record->ResultState;
    completion->errorText = record->ErrorString;
    completion->calls.fetch_add(1);
}

// Runs one worker to its end and returns the job's result state.
inline int32_t VerifyNow(Restore::RestoreMain& job, Completion& completion) {
    job.StartVerify(&completion, &RecordCompletion);
    job.Wait();
    return job.ResultState();
}

inline int32_t SaveNow(Restore::RestoreMain& job, Completion& completion) {
    job.StartSave(&completion, &RecordCompletion);
    job.Wait();
    return job.ResultState();
}

inline AAA::WString Wide(const fs::path& path) { return AAA::FromUtf8(path.string()); }

// A whole file in one read (the byte-wise stream helpers are slow on big cards).
inline std::string ReadWhole(const fs::path& path) {
    std::string bytes(fs::file_size(path), '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Every regular file under `root`, by '/'-separated relative path.
inline std::map<std::string, std::string> FilesUnder(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).generic_string()] = ReadWhole(entry.path());
    }
    return files;
}

// Resets everything a job leaves process-wide, whatever the test did.
class RestoreJobTest : public ::testing::Test {
protected:
    void TearDown() override {
        Restore::CurrentJob = nullptr;
        Restore::SetProgressTotal(0);
        Restore::SetFreeSpaceProbeForTesting(nullptr);
        AAA::SetLogSink(nullptr);
        AAA::LogThreshold = 0;
    }

    fs::path Destination() {
        const fs::path out = dir / "out";
        fs::create_directories(out);
        return out;
    }

    AAATest::EnglishLocale english;
    TestSupport::TempDir dir{"kalvory-restore"};
};

} // namespace RestoreTest
