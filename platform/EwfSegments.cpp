#include "EwfSegments.h"

#include <cctype>

namespace Platform {
namespace {

constexpr size_t kExtensionLength = 3;

bool IsLower(char c) { return std::islower(static_cast<unsigned char>(c)) != 0; }

} // namespace

bool IsE01Path(const std::string& path) {
    if (path.size() < kExtensionLength + 2)
        return false;
    const std::string extension = path.substr(path.size() - kExtensionLength - 1);
    const size_t slash = path.find_last_of('/');
    const bool hasStem = slash == std::string::npos || slash + 1 < path.size() - extension.size();
    return hasStem && (extension == ".E01" || extension == ".e01");
}

std::optional<std::string> SegmentPath(const std::string& firstSegment, uint32_t number) {
    if (number == 0 || !IsE01Path(firstSegment))
        return std::nullopt;
    std::string path = firstSegment;
    char* extension = path.data() + path.size() - kExtensionLength;
    if (number <= 99) {
        extension[1] = static_cast<char>('0' + number / 10);
        extension[2] = static_cast<char>('0' + number % 10);
        return path;
    }
    // Past 99 the two digits become two letters, then the first letter moves on.
    const char a = IsLower(extension[0]) ? 'a' : 'A';
    uint32_t rest = number - 100;
    extension[2] = static_cast<char>(a + rest % 26);
    rest /= 26;
    extension[1] = static_cast<char>(a + rest % 26);
    rest /= 26;
    if (rest > static_cast<uint32_t>('z' - 'e'))
        return std::nullopt;
    extension[0] = static_cast<char>(extension[0] + rest);
    return path;
}

} // namespace Platform
