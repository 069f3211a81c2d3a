#include "SourceFailure.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "AAA_StringTable.h"
#include "AAA_MessageIds.h"

namespace Restore {
namespace {

AAA::WString Filled(int id, const AAA::WString& source) {
    return AAA::FromUtf8(AAA::FillPlaceholders(AAA::LoadStringUtf8(id), {AAA::ToUtf8(source)}));
}

template <class E>
[[noreturn]] void Refuse(E error, AAA::WString detail) {
    error.AddDetail(detail);
    throw error;
}

} // namespace

void CheckSource(const AAA::WString& source) {
    const std::string path = AAA::ToUtf8(source);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        AAA::ThrowFromErrnoFor(source, errno);
    if (S_ISDIR(info.st_mode))
        Refuse(AAA::IOException(), Filled(AAA::Msg::SourceIsFolder, source));
    if (S_ISREG(info.st_mode) && info.st_size == 0)
        Refuse(AAA::UnexpectedEofException(), Filled(AAA::Msg::SourceEmpty, source));
    if (::access(path.c_str(), R_OK) != 0) {
        const int error = errno;
        if ((error == EACCES || error == EPERM) && (S_ISBLK(info.st_mode) || S_ISCHR(info.st_mode))) {
            AAA::IOException refused;
            refused.SetErrorNumber(error);
            Refuse(refused, Filled(AAA::Msg::SourcePermissionDenied, source));
        }
        AAA::ThrowFromErrnoFor(source, error);
    }
}

void NameSource(AAA::ExceptionBase& error, const AAA::WString& source) {
    if (error.HasDetail())
        return;
    switch (error.MessageId()) {
    case AAA::Msg::UnknownFileSystem:
        error.AddDetail(Filled(AAA::Msg::SourceNotFat, source));
        return;
    case AAA::Msg::InvalidData:
    case AAA::Msg::UnexpectedEnd:
    case AAA::Msg::MakerModel:
        error.AddDetail(Filled(AAA::Msg::SourceDamaged, source));
        return;
    default:
        if (error.ErrorNumber() != 0)
            error.AddDetail(source + u": " + AAA::SystemReason(error.ErrorNumber()));
    }
}

} // namespace Restore
