#include "Restore_FilePath.h"

#include <climits>
#include <filesystem>
#include <system_error>

#include "AAA_Exceptions.h"
#include "AAA_LogLines.h"

namespace Restore {
namespace {
[[noreturn]] void TooLong() {
    AAA::ThrowLogged<AAA::PathTooLongException>("SpecLib/Restore_FilePath", AAA::LogLine::kFilePathTooLong, "AAA::PathTooLongException()");
}
} // namespace

AAA::WString MakeAbsolutePath(const AAA::WString& path) {
    const std::string native = AAA::ToUtf8(path);
    if (native.size() >= PATH_MAX)
        TooLong();
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(native, error);
    if (error)
        TooLong();
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    if (text.size() >= PATH_MAX)
        TooLong();
    return AAA::FromUtf8(text);
}

} // namespace Restore
