#include "support/FatNames.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace TestSupport {

namespace {

bool IsShortNameChar(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    if (c >= 0x80) return true;
    return std::string_view("$%'-_@~`!(){}^#&").find(static_cast<char>(c)) != std::string_view::npos;
}

bool AllShortNameChars(std::string_view part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return IsShortNameChar(static_cast<unsigned char>(c)); });
}

// Upper-cases and drops what an alias cannot hold: blanks and dots are
// removed, other illegal characters become '_'.
std::string AliasPart(std::string_view part) {
    std::string out;
    for (char ch : part) {
        auto c = static_cast<unsigned char>(ch);
        if (c == ' ' || c == '.') continue;
        c = static_cast<unsigned char>(std::toupper(c));
        out.push_back(IsShortNameChar(c) ? static_cast<char>(c) : '_');
    }
    return out;
}

} // namespace

bool IsPlainShortName(std::string_view name) {
    const auto dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (dot != std::string_view::npos && ext.empty()) return false;
    return AllShortNameChars(base) && AllShortNameChars(ext);
}

FatShortName PackShortName(std::string_view name) {
    FatShortName out;
    out.fill(' ');
    if (name == "." || name == "..") {
        std::copy(name.begin(), name.end(), out.begin());
        return out;
    }
    const auto dot = name.rfind('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (base.size() > 8 || ext.size() > 3)
        throw std::invalid_argument("short name does not fit 8.3: " + std::string(name));
    std::copy(base.begin(), base.end(), out.begin());
    std::copy(ext.begin(), ext.end(), out.begin() + 8);
    return out;
}

std::string ShortNameText(const FatShortName& name) {
    auto trimmed = [](std::string s) {
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    };
    std::string base = trimmed(std::string(name.begin(), name.begin() + 8));
    std::string ext = trimmed(std::string(name.begin() + 8, name.end()));
    return ext.empty() ? base : base + "." + ext;
}

FatShortName MakeShortAlias(std::string_view longName, const std::function<bool(const FatShortName&)>& taken) {
    const auto dot = longName.rfind('.');
    const bool hasExt = dot != std::string_view::npos && dot != 0;
    std::string base = AliasPart(hasExt ? longName.substr(0, dot) : longName);
    std::string ext = hasExt ? AliasPart(longName.substr(dot + 1)).substr(0, 3) : std::string();
    if (base.empty()) base = "_";
    for (int n = 1; n < 1000000; ++n) {
        const std::string tail = "~" + std::to_string(n);
        const std::string stem = base.substr(0, 8 - tail.size()) + tail;
        const FatShortName candidate = PackShortName(ext.empty() ? stem : stem + "." + ext);
        if (!taken(candidate)) return candidate;
    }
    throw std::runtime_error("no free short alias for " + std::string(longName));
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        std::uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::uint8_t LongNameChecksum(const FatShortName& name) {
    std::uint8_t sum = 0;
    for (std::uint8_t c : name)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + c);
    return sum;
}

std::vector<FatSlot> LongNameSlots(const std::u16string& name, const FatShortName& shortName) {
    // Character positions inside a slot: 5 + 6 + 2 UCS-2 units.
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const std::size_t count = (name.size() + 12) / 13;
    if (count == 0 || count > 20) throw std::invalid_argument("long name must have 1 to 255 characters");
    const std::uint8_t checksum = LongNameChecksum(shortName);
    std::vector<FatSlot> slots;
    for (std::size_t ordinal = count; ordinal >= 1; --ordinal) {
        FatSlot slot{};
        slot[0] = static_cast<std::uint8_t>(ordinal | (ordinal == count ? 0x40 : 0));
        slot[11] = 0x0F;
        slot[13] = checksum;
        for (std::size_t k = 0; k < 13; ++k) {
            const std::size_t index = (ordinal - 1) * 13 + k;
            const char16_t unit = index < name.size() ? name[index] : index == name.size() ? u'\0' : u'\xFFFF';
            slot[kOffsets[k]] = static_cast<std::uint8_t>(unit & 0xFF);
            slot[kOffsets[k] + 1] = static_cast<std::uint8_t>(unit >> 8);
        }
        slots.push_back(slot);
    }
    return slots;
}

} // namespace TestSupport
