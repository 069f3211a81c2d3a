#pragma once
// Every engine failure is one of these. An exception carries only the user
// message chosen by its id; the class tells a catch site what happened.
#include "AAA_DebugLog.h"
#include "AAA_WideString.h"

namespace AAA {

class ExceptionBase {
public:
    explicit ExceptionBase(int messageId);
    const char16_t* Message() const { return message_.c_str(); }
    const WString& MessageText() const { return message_; }

private:
    WString message_;
};

#define AAA_DECLARE_EXCEPTION(Name, Base, Id)          \
    class Name : public Base {                         \
    public:                                            \
        explicit Name(int messageId = Id) : Base(messageId) {} \
    }

class VerifyExceptionBase : public ExceptionBase {
public:
    explicit VerifyExceptionBase(int messageId) : ExceptionBase(messageId) {}
};

AAA_DECLARE_EXCEPTION(ArgumentException, ExceptionBase, 101);
AAA_DECLARE_EXCEPTION(CancellationException, ExceptionBase, 102);
AAA_DECLARE_EXCEPTION(FileNotFoundException, ExceptionBase, 104);
AAA_DECLARE_EXCEPTION(InsufficientMemoryException, ExceptionBase, 105);
AAA_DECLARE_EXCEPTION(IOException, ExceptionBase, 106);
AAA_DECLARE_EXCEPTION(PathTooLongException, ExceptionBase, 107);
AAA_DECLARE_EXCEPTION(UnknownFileSystemException, ExceptionBase, 114);
AAA_DECLARE_EXCEPTION(UnexpectedEofException, VerifyExceptionBase, 110);
AAA_DECLARE_EXCEPTION(InvalidDataException, VerifyExceptionBase, 109);
AAA_DECLARE_EXCEPTION(MakerModelException, VerifyExceptionBase, 113);

#undef AAA_DECLARE_EXCEPTION

// Raises the exception matching `errno` (or the given error number).
[[noreturn]] void ThrowFromErrno();
[[noreturn]] void ThrowFromErrno(int errorNumber);

// Message 100, for failures that are not ExceptionBase.
const char16_t* UnexpectedErrorText();

// Logs the throw-site line ("%S(%d): %S\n" at level 3), then throws E.
template <class E>
[[noreturn]] void ThrowLogged(const char* file, int line, const char* exceptionText, E exception = E()) {
    LogThrowSite(file, line, exceptionText);
    throw exception;
}

} // namespace AAA
