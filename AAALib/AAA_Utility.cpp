#include "AAA_Utility.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace AAA {

std::string FormatString(const char* format, ...) {
    assert(format && "format");
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        throw std::runtime_error(format);
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int written = std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    if (written != length)
        throw std::runtime_error(format);
    text.resize(static_cast<size_t>(length));
    return text;
}

} // namespace AAA
