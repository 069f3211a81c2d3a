#pragma once
// Every engine failure is one of these. An exception carries only the user
// message chosen by its id; the class tells a catch site what happened.
#include "AAA_DebugLog.h"
#include <utility>

#include "AAA_WideString.h"

namespace AAA {

class ExceptionBase {
public:
    explicit ExceptionBase(int messageId);
    // A message whose text the thrower composed (placeholders filled in).
    ExceptionBase(int messageId, WString text) : message_(std::move(text)), id_(messageId) {}
    // Polymorphic, so that a catch of the base can tell which failure it holds.
    virtual ~ExceptionBase() = default;
    ExceptionBase(const ExceptionBase&) = default;
    ExceptionBase& operator=(const ExceptionBase&) = default;
    const char16_t* Message() const { return message_.c_str(); }
    const WString& MessageText() const { return message_; }
    int MessageId() const { return id_; }
    // The system's error number behind the failure; 0 when there is none.
    int ErrorNumber() const { return errorNumber_; }
    void SetErrorNumber(int errorNumber) { errorNumber_ = errorNumber; }
    // Appends a line that names what failed and why ("\n\n" + detail).
    void AddDetail(const WString& detail) {
        message_ += u"\n\n" + detail;
        hasDetail_ = true;
    }
    bool HasDetail() const { return hasDetail_; }

private:
    WString message_;
    int id_ = 0;
    int errorNumber_ = 0;
    bool hasDetail_ = false;
};

#define AAA_DECLARE_EXCEPTION(Name, Base, Id)          \
    class Name : public Base {                         \
    public:                                            \
        explicit Name(int messageId = Id) : Base(messageId) {} \
        Name(int messageId, WString text) : Base(messageId, std::move(text)) {} \
    }

class VerifyExceptionBase : public ExceptionBase {
public:
    explicit VerifyExceptionBase(int messageId) : ExceptionBase(messageId) {}
    VerifyExceptionBase(int messageId, WString text) : ExceptionBase(messageId, std::move(text)) {}
};

AAA_DECLARE_EXCEPTION(ArgumentException, ExceptionBase, 101);
AAA_DECLARE_EXCEPTION(CancellationException, ExceptionBase, 102);
AAA_DECLARE_EXCEPTION(FileNotFoundException, ExceptionBase, 104);
AAA_DECLARE_EXCEPTION(InsufficientMemoryException, ExceptionBase, 105);
AAA_DECLARE_EXCEPTION(IOException, ExceptionBase, 106);
AAA_DECLARE_EXCEPTION(PathTooLongException, ExceptionBase, 107);
AAA_DECLARE_EXCEPTION(UnknownFileSystemException, ExceptionBase, 114);
// The source went away (reader unplugged, device gone): nothing more can be read.
AAA_DECLARE_EXCEPTION(SourceLostException, ExceptionBase, 115);
// Files larger than the destination's file system or the process allows.
AAA_DECLARE_EXCEPTION(FileTooLargeException, ExceptionBase, 116);
AAA_DECLARE_EXCEPTION(UnexpectedEofException, VerifyExceptionBase, 110);
AAA_DECLARE_EXCEPTION(InvalidDataException, VerifyExceptionBase, 109);
AAA_DECLARE_EXCEPTION(MakerModelException, VerifyExceptionBase, 113);

#undef AAA_DECLARE_EXCEPTION

// Raises the exception matching `errno` (or the given error number).
[[noreturn]] void ThrowFromErrno();
[[noreturn]] void ThrowFromErrno(int errorNumber);
// The same, naming `path` and the system's reason in its detail.
[[noreturn]] void ThrowFromErrnoFor(const WString& path, int errorNumber);

// The system's text for an error number ("No space left on device").
WString SystemReason(int errorNumber);

// Message 100, for failures that are not ExceptionBase.
const char16_t* UnexpectedErrorText();

// Logs the throw-site line ("%S(%d): %S\n" at level 3), then throws E.
template <class E>
[[noreturn]] void ThrowLogged(const char* file, int line, const char* exceptionText, E exception = E()) {
    LogThrowSite(file, line, exceptionText);
    throw exception;
}

} // namespace AAA
