#pragma once
// Sends the diagnostic log to a temporary file for a scope, so tests can read
// exactly what was written; the previous sink and threshold come back after.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "AAA_DebugLog.h"

namespace KalvoryTest {

class LogCapture {
public:
    explicit LogCapture(int threshold = 8)
        : file_(std::tmpfile()), savedSink_(AAA::LogSink()), savedThreshold_(AAA::LogThreshold.load()) {
        if (!file_)
            throw std::runtime_error("tmpfile failed");
        AAA::SetLogSink(file_);
        AAA::LogThreshold = threshold;
    }
    ~LogCapture() {
        AAA::SetLogSink(savedSink_ == stdout ? nullptr : savedSink_);
        AAA::LogThreshold = savedThreshold_;
        std::fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written since construction (or the last Clear).
    std::string Text() const {
        std::fflush(file_);
        std::fseek(file_, 0, SEEK_SET);
        std::string text;
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0)
            text.append(chunk, n);
        std::fseek(file_, 0, SEEK_END);
        return text;
    }
    bool Contains(const std::string& piece) const { return Text().find(piece) != std::string::npos; }
    size_t Count(const std::string& piece) const {
        const std::string text = Text();
        size_t count = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
            ++count;
        return count;
    }
    void Clear() {
        std::fflush(file_);
        std::fseek(file_, 0, SEEK_SET);
        if (ftruncate(fileno(file_), 0) != 0)
            throw std::runtime_error("ftruncate failed");
    }

private:
    std::FILE* file_;
    std::FILE* savedSink_;
    int32_t savedThreshold_;
};

} // namespace KalvoryTest
