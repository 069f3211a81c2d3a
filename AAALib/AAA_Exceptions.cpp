#include "AAA_Exceptions.h"

#include <cerrno>
#include <mutex>

#include "AAA_StringTable.h"

namespace AAA {

ExceptionBase::ExceptionBase(int messageId) : message_(LoadString(messageId)) {}

void ThrowFromErrno() { ThrowFromErrno(errno); }

void ThrowFromErrno(int errorNumber) {
    switch (errorNumber) {
    case ENOENT: throw FileNotFoundException();
    case ENOMEM: throw InsufficientMemoryException();
    case EINVAL: throw ArgumentException();
    case ENOSPC: throw IOException(111);
    default: throw IOException(106);
    }
}

const char16_t* UnexpectedErrorText() {
    // One process-wide buffer, refreshed on every call.
    static std::mutex guard;
    static char16_t buffer[256];
    std::lock_guard<std::mutex> lock(guard);
    const WString text = LoadString(100);
    const size_t n = text.size() < 255 ? text.size() : 255;
    text.copy(buffer, n);
    buffer[n] = u'\0';
    return buffer;
}

} // namespace AAA
