#include "AAA_Exceptions.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "AAA_StringTable.h"
#include "AAA_MessageIds.h"

namespace AAA {

ExceptionBase::ExceptionBase(int messageId) : message_(LoadString(messageId)), id_(messageId) {}

void ThrowFromErrno() { ThrowFromErrno(errno); }

namespace {

template <class E>
[[noreturn]] void ThrowWithErrno(E exception, int errorNumber, const WString* path) {
    exception.SetErrorNumber(errorNumber);
    if (path != nullptr)
        exception.AddDetail(*path + u": " + SystemReason(errorNumber));
    throw exception;
}

[[noreturn]] void ThrowMatching(int errorNumber, const WString* path) {
    switch (errorNumber) {
    case ENOENT: ThrowWithErrno(FileNotFoundException(), errorNumber, path);
    case ENOMEM: ThrowWithErrno(InsufficientMemoryException(), errorNumber, path);
    case EINVAL: ThrowWithErrno(ArgumentException(), errorNumber, path);
    case ENOSPC:
    case EDQUOT: ThrowWithErrno(IOException(Msg::NoFreeSpace), errorNumber, path);
    default: ThrowWithErrno(IOException(106), errorNumber, path);
    }
}

} // namespace

void ThrowFromErrno(int errorNumber) { ThrowMatching(errorNumber, nullptr); }

void ThrowFromErrnoFor(const WString& path, int errorNumber) { ThrowMatching(errorNumber, &path); }

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
    const WString text = LoadString(AAA::Msg::UnexpectedError);
    const size_t n = text.size() < 255 ? text.size() : 255;
    text.copy(buffer, n);
    buffer[n] = u'\0';
    return buffer;
}

} // namespace AAA
