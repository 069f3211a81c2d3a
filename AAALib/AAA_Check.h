#pragma once
// The check of a field against its expected value, stated once: the value as
// the source writes it ("512U", "0x29"), which the report quotes, and the
// place the report names, the call's own line unless a fixed one is given.
#include <cstdint>

#include "AAA_Field.h"

namespace AAA {

// An integer literal as written (decimal or 0x hex, with U/L suffixes) and its value.
class Literal {
public:
    consteval Literal(const char* written) : value(Parse(written)), text(written) {}

    uint64_t value;
    const char* text;

private:
    static consteval uint64_t Parse(const char* p) {
        uint64_t base = 10;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
            base = 16;
            p += 2;
        }
        uint64_t result = 0;
        int digits = 0;
        for (; *p != '\0' && *p != 'u' && *p != 'U' && *p != 'l' && *p != 'L'; ++p, ++digits) {
            const char c = *p;
            const uint64_t digit = c >= '0' && c <= '9'   ? static_cast<uint64_t>(c - '0')
                                   : c >= 'a' && c <= 'f' ? static_cast<uint64_t>(c - 'a' + 10)
                                   : c >= 'A' && c <= 'F' ? static_cast<uint64_t>(c - 'A' + 10)
                                                          : 99;
            if (digit >= base)
                throw "not an integer literal"; // a compile-time error
            result = result * base + digit;
        }
        for (; *p != '\0'; ++p)
            if (*p != 'u' && *p != 'U' && *p != 'l' && *p != 'L')
                throw "not an integer literal";
        if (digits == 0)
            throw "not an integer literal";
        return result;
    }
};

// Where a report comes from: the file's log name ("FSAccessLib/FSSpecFAT32")
// and the calling line, or a line of AAA_LogLines.h that log readers rely on.
struct CheckSite {
    // __builtin_LINE in the default argument gives the caller's line, as
    // std::source_location does, also with the clang the fuzz targets build with.
    CheckSite(const char* logFile, int callerOrFixedLine = __builtin_LINE()) : file(logFile), line(callerOrFixedLine) {}

    const char* file;
    int line;
};

// Whether `field` holds `expected`; when not, the report (level 6) names the
// site, the field, the expected value with its text, and what was read.
inline bool Check(const FieldBase& field, Literal expected, CheckSite site) {
    return field.CompareValue(expected.value, expected.text, site.file, site.line);
}

} // namespace AAA
