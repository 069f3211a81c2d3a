#pragma once
// Diagnostic log: printf-style lines with a level, written only when the level
// is below the process-wide threshold (0 = off, which is the default).
//
// Format strings follow the engine's own convention on every platform:
// "%s" takes a wide string, "%S" a narrow one, "%I64d"/"%I64X" 64-bit integers.
// Arguments are type-checked here, so either string kind renders correctly.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "AAA_WideString.h"

namespace AAA {

extern std::atomic<int32_t> LogThreshold;

inline bool LogEnabled(int level) {
    return level < LogThreshold.load(std::memory_order_relaxed);
}

// One formatting argument, captured by reference for the duration of the call.
class LogArg {
public:
    enum class Kind { Signed, Unsigned, Floating, Narrow, Wide, Pointer };

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    LogArg(T v) : kind_(Kind::Signed), signed_(v) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T>, int> = 0>
    LogArg(T v) : kind_(Kind::Unsigned), unsigned_(v) {}
    template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
    LogArg(T v) : LogArg(static_cast<std::underlying_type_t<T>>(v)) {}
    LogArg(double v) : kind_(Kind::Floating), floating_(v) {}
    LogArg(const char* s) : kind_(Kind::Narrow), narrow_(s ? s : "(null)") {}
    LogArg(const std::string& s) : kind_(Kind::Narrow), narrow_(s) {}
    LogArg(std::string_view s) : kind_(Kind::Narrow), narrow_(s) {}
    LogArg(const char16_t* s) : kind_(Kind::Wide), wide_(s ? s : u"(null)") {}
    LogArg(const WString& s) : kind_(Kind::Wide), wide_(s) {}
    LogArg(WStringView s) : kind_(Kind::Wide), wide_(s) {}
    LogArg(const void* p) : kind_(Kind::Pointer), pointer_(p) {}

    Kind kind() const { return kind_; }
    long long AsSigned() const;
    unsigned long long AsUnsigned() const;
    double AsDouble() const;
    std::string AsText() const;
    const void* AsPointer() const { return pointer_; }

private:
    Kind kind_;
    long long signed_ = 0;
    unsigned long long unsigned_ = 0;
    double floating_ = 0;
    std::string_view narrow_;
    WStringView wide_;
    const void* pointer_ = nullptr;
};

// Formats with the log's conventions; used by DebugLog and by tests.
std::string FormatLogText(const char* format, std::initializer_list<LogArg> args);

void WriteLogText(const std::string& text);

template <class... Args>
void DebugLog(int level, const char* format, const Args&... args) {
    if (!LogEnabled(level))
        return;
    WriteLogText(FormatLogText(format, {LogArg(args)...}));
}

// Where log lines go: standard output unless told otherwise. The sink is not
// owned; SetLogFile opens (and owns) a file appended to.
void SetLogSink(std::FILE* sink);
bool SetLogFile(const std::string& path);
std::FILE* LogSink();

// Throw sites log "%S(%d): %S\n" at level 3 before raising.
void LogThrowSite(const char* file, int line, const char* exceptionText);

// Lowers the threshold to at most `ceiling` for a scope (bulk reads silence
// their per-field trace lines this way) and restores it afterwards.
class LogThresholdCeiling {
public:
    explicit LogThresholdCeiling(int32_t ceiling);
    ~LogThresholdCeiling();
    LogThresholdCeiling(const LogThresholdCeiling&) = delete;
    LogThresholdCeiling& operator=(const LogThresholdCeiling&) = delete;

private:
    int32_t saved_;
};

} // namespace AAA
