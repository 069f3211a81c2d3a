#include "SafeHostPath.h"

#include <vector>

namespace FSAccessLib {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsUnsafeUnit(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == u'/' || c == u'\\' || IsHighSurrogate(c) ||
           IsLowSurrogate(c);
}

size_t Utf8Bytes(char16_t c) {
    if (c < 0x80)
        return 1;
    if (c < 0x800)
        return 2;
    return 3;
}

} // namespace

AAA::WString SafeHostComponent(AAA::WStringView name) {
    AAA::WString safe;
    size_t bytes = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (IsHighSurrogate(c) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
            if (bytes + 4 > kMaxHostComponentBytes)
                break;
            safe += c;
            safe += name[++i];
            bytes += 4;
            continue;
        }
        const char16_t unit = IsUnsafeUnit(c) ? u'_' : c;
        if (bytes + Utf8Bytes(unit) > kMaxHostComponentBytes)
            break;
        safe += unit;
        bytes += Utf8Bytes(unit);
    }
    if (safe.empty())
        return u"_";
    if (IsDotName(safe))
        return u"_" + safe;
    return safe;
}

AAA::WString SafeHostPath(const AAA::WString& destination, const DirEntry& entry) {
    std::vector<const DirEntry*> lineage;
    for (const DirEntry* e = &entry; e->parent != nullptr; e = e->parent)
        lineage.push_back(e);
    AAA::WString path = destination;
    for (auto it = lineage.rbegin(); it != lineage.rend(); ++it) {
        if (path.empty() || path.back() != u'/')
            path += u'/';
        path += SafeHostComponent((*it)->name);
    }
    return path;
}

} // namespace FSAccessLib
