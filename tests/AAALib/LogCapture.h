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
#include "common/LogCapture.h"

namespace AAATest {

using KalvoryTest::LogCapture;

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
