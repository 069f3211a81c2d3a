#include "support/ExFatEncoding.h"

#include <stdexcept>

namespace TestSupport::ExFat {

namespace {

constexpr size_t kUpCaseEntries = 0x10000;

uint32_t Rotate32(uint32_t sum, uint8_t byte) {
    return ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + byte;
}

uint16_t Rotate16(uint16_t sum, uint8_t byte) {
    return static_cast<uint16_t>(((sum & 1) ? 0x8000u : 0u) + (sum >> 1) + byte);
}

void MapRange(std::vector<uint16_t>& map, uint32_t first, uint32_t last, int32_t delta) {
    for (uint32_t c = first; c <= last; ++c)
        map[c] = static_cast<uint16_t>(static_cast<int32_t>(c) + delta);
}

// Pairs where the upper-case letter sits at the even (or odd) code and the lower at the next.
void MapPairs(std::vector<uint16_t>& map, uint32_t firstUpper, uint32_t lastLower) {
    for (uint32_t c = firstUpper; c + 1 <= lastLower; c += 2)
        map[c + 1] = static_cast<uint16_t>(c);
}

void AppendUnit(std::vector<uint8_t>& out, uint16_t unit) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

} // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const size_t extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 99;
        if (extra == 99 || i + extra >= text.size())
            throw std::invalid_argument("bad UTF-8 in " + text);
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                throw std::invalid_argument("bad UTF-8 in " + text);
            code = (code << 6) | (next & 0x3F);
        }
        i += extra + 1;
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

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

uint32_t BootRegionChecksum(const std::vector<uint8_t>& firstElevenSectors, size_t sectorSize) {
    uint32_t sum = 0;
    const size_t total = 11 * sectorSize;
    for (size_t i = 0; i < total && i < firstElevenSectors.size(); ++i) {
        if (i == 106 || i == 107 || i == 112)
            continue;
        sum = Rotate32(sum, firstElevenSectors[i]);
    }
    return sum;
}

uint32_t TableChecksum(const std::vector<uint8_t>& bytes) {
    uint32_t sum = 0;
    for (uint8_t byte : bytes)
        sum = Rotate32(sum, byte);
    return sum;
}

uint16_t SetChecksum(const std::vector<Slot>& set) {
    uint16_t sum = 0;
    for (size_t s = 0; s < set.size(); ++s)
        for (size_t i = 0; i < 32; ++i) {
            if (s == 0 && (i == 2 || i == 3))
                continue;
            sum = Rotate16(sum, set[s][i]);
        }
    return sum;
}

uint16_t NameHash(const std::u16string& name, const std::vector<uint16_t>& upCase) {
    uint16_t hash = 0;
    for (char16_t unit : name) {
        const uint16_t upper = upCase.at(unit);
        hash = Rotate16(hash, static_cast<uint8_t>(upper));
        hash = Rotate16(hash, static_cast<uint8_t>(upper >> 8));
    }
    return hash;
}

std::vector<uint16_t> DefaultUpCaseMapping() {
    std::vector<uint16_t> map(kUpCaseEntries);
    for (size_t c = 0; c < kUpCaseEntries; ++c)
        map[c] = static_cast<uint16_t>(c);
    MapRange(map, 'a', 'z', -0x20);
    MapRange(map, 0xE0, 0xF6, -0x20);
    MapRange(map, 0xF8, 0xFE, -0x20);
    map[0xFF] = 0x178;
    MapPairs(map, 0x100, 0x12F);
    MapPairs(map, 0x132, 0x137);
    MapPairs(map, 0x139, 0x148);
    MapPairs(map, 0x14A, 0x177);
    MapPairs(map, 0x179, 0x17E);
    MapRange(map, 0x3B1, 0x3C1, -0x20);
    MapRange(map, 0x3C3, 0x3CB, -0x20);
    MapRange(map, 0x430, 0x44F, -0x20);
    MapRange(map, 0x450, 0x45F, -0x50);
    MapRange(map, 0xFF41, 0xFF5A, -0x20);
    return map;
}

std::vector<uint8_t> CompressUpCase(const std::vector<uint16_t>& mapping) {
    std::vector<uint8_t> out;
    size_t c = 0;
    while (c < mapping.size()) {
        size_t run = 0;
        while (c + run < mapping.size() && mapping[c + run] == c + run && run < 0xFFFF)
            ++run;
        // Short identity runs cost less written out than as a 0xFFFF marker.
        if (run > 2) {
            AppendUnit(out, 0xFFFF);
            AppendUnit(out, static_cast<uint16_t>(run));
            c += run;
        } else {
            AppendUnit(out, mapping[c]);
            ++c;
        }
    }
    return out;
}

std::vector<uint8_t> FullUpCase(const std::vector<uint16_t>& mapping) {
    std::vector<uint8_t> out;
    out.reserve(mapping.size() * 2);
    for (uint16_t unit : mapping)
        AppendUnit(out, unit);
    return out;
}

std::vector<uint16_t> ExpandUpCase(const std::vector<uint8_t>& table) {
    std::vector<uint16_t> map(kUpCaseEntries);
    for (size_t c = 0; c < kUpCaseEntries; ++c)
        map[c] = static_cast<uint16_t>(c);
    const size_t units = table.size() / 2;
    size_t k = 0;
    for (size_t i = 0; i < units && k < kUpCaseEntries; ++i) {
        const uint16_t unit = GetLe<uint16_t>(&table[2 * i]);
        if (unit == 0xFFFF && i + 1 < units) {
            k += GetLe<uint16_t>(&table[2 * ++i]);
        } else {
            map[k++] = unit;
        }
    }
    return map;
}

uint32_t EncodeTimestamp(const Timestamp& t) {
    if (t.year < 1980 || t.year > 2107)
        throw std::invalid_argument("exFAT timestamps cover 1980 to 2107");
    return (static_cast<uint32_t>(t.year - 1980) << 25) | (static_cast<uint32_t>(t.month) << 21) |
           (static_cast<uint32_t>(t.day) << 16) | (static_cast<uint32_t>(t.hour) << 11) |
           (static_cast<uint32_t>(t.minute) << 5) | (t.second / 2u);
}

uint8_t EncodeTenMs(const Timestamp& t) {
    return static_cast<uint8_t>((t.second % 2) * 100 + t.tenMs);
}

} // namespace TestSupport::ExFat
