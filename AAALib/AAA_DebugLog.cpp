#include "AAA_DebugLog.h"

#include <cctype>
#include <cstring>
#include <mutex>
#include <vector>

namespace AAA {

std::atomic<int32_t> LogThreshold{0};

namespace {

std::mutex sinkMutex;
std::FILE* sink = nullptr; // null means standard output
std::FILE* ownedFile = nullptr;

struct Spec {
    std::string flags;
    std::string width;
    std::string precision; // includes the dot when present
    bool wide64 = false;   // "I64", "ll", "j", "z"
    char conversion = 0;
};

// Parses the conversion after '%' starting at format[i]; returns the index after it.
size_t ParseSpec(const char* format, size_t i, Spec& spec) {
    while (format[i] && std::strchr("-+ #0", format[i]))
        spec.flags.push_back(format[i++]);
    while (std::isdigit(static_cast<unsigned char>(format[i])))
        spec.width.push_back(format[i++]);
    if (format[i] == '.') {
        spec.precision.push_back(format[i++]);
        while (std::isdigit(static_cast<unsigned char>(format[i])))
            spec.precision.push_back(format[i++]);
    }
    if (std::strncmp(format + i, "I64", 3) == 0) { spec.wide64 = true; i += 3; }
    else if (std::strncmp(format + i, "ll", 2) == 0) { spec.wide64 = true; i += 2; }
    else if (format[i] == 'j' || format[i] == 'z') { spec.wide64 = true; ++i; }
    else if (std::strncmp(format + i, "hh", 2) == 0) { i += 2; }
    else if (format[i] == 'l' || format[i] == 'h') { ++i; }
    spec.conversion = format[i] ? format[i++] : 0;
    return i;
}

std::string Printf(const std::string& fmt, auto value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, fmt.c_str(), value);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt.c_str(), value);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string FormatOne(const Spec& spec, const LogArg& arg) {
    const std::string head = "%" + spec.flags + spec.width + spec.precision;
    switch (spec.conversion) {
    case 'd': case 'i':
        if (spec.wide64)
            return Printf(head + "lld", static_cast<long long>(arg.AsSigned()));
        return Printf(head + "d", static_cast<int>(static_cast<int32_t>(arg.AsSigned())));
    case 'u': case 'x': case 'X': case 'o': {
        const std::string conv(1, spec.conversion);
        if (spec.wide64)
            return Printf(head + "ll" + conv, arg.AsUnsigned());
        return Printf(head + conv, static_cast<unsigned>(static_cast<uint32_t>(arg.AsUnsigned())));
    }
    case 'c':
        return Printf(head + "c", static_cast<int>(arg.AsSigned()));
    case 'f': case 'g': case 'e':
        return Printf(head + std::string(1, spec.conversion), arg.AsDouble());
    case 'p':
        return Printf(head + "p", arg.AsPointer());
    case 's': case 'S': {
        const std::string text = arg.AsText();
        return Printf(head + "s", text.c_str());
    }
    default:
        return {};
    }
}

} // namespace

long long LogArg::AsSigned() const {
    switch (kind_) {
    case Kind::Signed: return signed_;
    case Kind::Unsigned: return static_cast<long long>(unsigned_);
    case Kind::Floating: return static_cast<long long>(floating_);
    default: return 0;
    }
}

unsigned long long LogArg::AsUnsigned() const {
    switch (kind_) {
    case Kind::Signed: return static_cast<unsigned long long>(signed_);
    case Kind::Unsigned: return unsigned_;
    case Kind::Floating: return static_cast<unsigned long long>(floating_);
    default: return 0;
    }
}

double LogArg::AsDouble() const {
    switch (kind_) {
    case Kind::Signed: return static_cast<double>(signed_);
    case Kind::Unsigned: return static_cast<double>(unsigned_);
    case Kind::Floating: return floating_;
    default: return 0;
    }
}

std::string LogArg::AsText() const {
    switch (kind_) {
    case Kind::Narrow: return std::string(narrow_);
    case Kind::Wide: return ToUtf8(wide_);
    default: return {};
    }
}

std::string FormatLogText(const char* format, std::initializer_list<LogArg> args) {
    std::string out;
    if (!format)
        return out;
    const LogArg* next = args.begin();
    for (size_t i = 0; format[i];) {
        if (format[i] != '%') {
            out.push_back(format[i++]);
            continue;
        }
        if (format[i + 1] == '%') {
            out.push_back('%');
            i += 2;
            continue;
        }
        Spec spec;
        i = ParseSpec(format, i + 1, spec);
        if (next == args.end())
            break; // a missing argument ends the line rather than reading garbage
        out += FormatOne(spec, *next++);
    }
    return out;
}

void WriteLogText(const std::string& text) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    std::FILE* out = sink ? sink : stdout;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(nullptr);
}

void SetLogSink(std::FILE* newSink) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (ownedFile && ownedFile != newSink) {
        std::fclose(ownedFile);
        ownedFile = nullptr;
    }
    sink = newSink;
}

bool SetLogFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "ae");
    if (!file)
        return false;
    SetLogSink(file);
    std::lock_guard<std::mutex> lock(sinkMutex);
    ownedFile = file;
    return true;
}

std::FILE* LogSink() {
    std::lock_guard<std::mutex> lock(sinkMutex);
    return sink ? sink : stdout;
}

void LogThrowSite(const char* file, int line, const char* exceptionText) {
    DebugLog(3, "%S(%d): %S\n", file, line, exceptionText);
}

LogThresholdCeiling::LogThresholdCeiling(int32_t ceiling) : saved_(LogThreshold.load()) {
    if (saved_ > ceiling)
        LogThreshold.store(ceiling);
}

LogThresholdCeiling::~LogThresholdCeiling() { LogThreshold.store(saved_); }

} // namespace AAA
