#pragma once
// Small builders shared by the tree tests: entries, log capture, progress reset.
#include <cstdio>
#include <string>

#include "AAA_DebugLog.h"
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

// Sends the log to a temporary file at trace level for the scope.
class LogCapture {
public:
    LogCapture() : file_(std::tmpfile()), savedSink_(AAA::LogSink()), savedThreshold_(AAA::LogThreshold.load()) {
        AAA::SetLogSink(file_);
        AAA::LogThreshold = 8;
    }
    ~LogCapture() {
        AAA::SetLogSink(savedSink_);
        AAA::LogThreshold = savedThreshold_;
        std::fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string Text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
            text.append(buffer, n);
        return text;
    }
    size_t Count(const std::string& piece) const {
        const std::string text = Text();
        size_t count = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
            ++count;
        return count;
    }

private:
    std::FILE* file_;
    std::FILE* savedSink_;
    int32_t savedThreshold_;
};

// Process-wide progress back to its start state at the end of a test.
struct ProgressReset {
    ~ProgressReset() {
        Restore::CurrentJob = nullptr;
        Restore::SetProgressTotal(0);
    }
};

} // namespace FSAccessTest
