#pragma once
// Test helpers shared by the foundation library's tests: a log sink captured in
// a temporary file, and a scoped override of the locale environment.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AAA_DebugLog.h"

namespace AAATest {

// Points the log at a temporary file with the given threshold; restores the
// default sink and threshold 0 when destroyed.
class LogCapture {
public:
    explicit LogCapture(int threshold) : file_(std::tmpfile()) {
        if (!file_)
            throw std::runtime_error("tmpfile failed");
        AAA::SetLogSink(file_);
        AAA::LogThreshold = threshold;
    }
    ~LogCapture() {
        AAA::SetLogSink(nullptr);
        AAA::LogThreshold = 0;
        std::fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written since construction (or the last Clear).
    std::string Text() {
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
    void Clear() {
        std::fflush(file_);
        std::fseek(file_, 0, SEEK_SET);
        if (ftruncate(fileno(file_), 0) != 0)
            throw std::runtime_error("ftruncate failed");
    }

private:
    std::FILE* file_;
};

// Fixture for tests that read the log: `log` captures at threshold 8 (everything).
class LoggedTest : public ::testing::Test {
protected:
    LogCapture log{8};
};

// Sets (or, with nullptr, unsets) environment variables for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            saved_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (saved_)
            ::setenv(name_.c_str(), saved_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

// Forces the English string table for a scope.
struct EnglishLocale {
    ScopedEnv all{"LC_ALL", "C"};
};

} // namespace AAATest
