#pragma once
#include <string>

namespace AAA {

// printf-style formatting into a string; throws std::runtime_error (whose text
// is the format) when the text cannot be formatted.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace AAA
