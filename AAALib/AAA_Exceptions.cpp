#include "AAA_Exceptions.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "AAA_StringTable.h"

namespace AAA {

ExceptionBase::ExceptionBase(int messageId) : message_(LoadString(messageId)), id_(messageId) {}

void ThrowFromErrno() { ThrowFromErrno(errno); }

namespace {

template <class E>
[[noreturn]] void ThrowWithErrno(E exception, int errorNumber) {
    exception.SetErrorNumber(errorNumber);
    throw exception;
}

} // namespace

void ThrowFromErrno(int errorNumber) {
    switch (errorNumber) {
    case ENOENT: ThrowWithErrno(FileNotFoundException(), errorNumber);
    case ENOMEM: ThrowWithErrno(InsufficientMemoryException(), errorNumber);
    case EINVAL: ThrowWithErrno(ArgumentException(), errorNumber);
    case ENOSPC:
    case EDQUOT: ThrowWithErrno(IOException(111), errorNumber);
    default: ThrowWithErrno(IOException(106), errorNumber);
    }
}

WString SystemReason(int errorNumber) {
    char buffer[256];
    // GNU strerror_r: returns the text, which may or may not be in `buffer`.
    return FromUtf8(::strerror_r(errorNumber, buffer, sizeof buffer));
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
