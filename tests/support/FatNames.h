#pragma once
// 8.3 short names and long-name slots as FAT directories store them.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace TestSupport {

using FatShortName = std::array<std::uint8_t, 11>;
using FatSlot = std::array<std::uint8_t, 32>;

// True for names DOS would store without long-name slots: upper-case, 1-8
// characters, optional '.' and 1-3 more, only characters legal in short names.
bool IsPlainShortName(std::string_view name);

// "NAME.EXT" to the blank-padded 11 bytes; bytes are taken as they are.
FatShortName PackShortName(std::string_view name);
std::string ShortNameText(const FatShortName& name);

// The Windows-style alias of a long name ("clip one.mts" -> "CLIPON~1.MTS"),
// with the lowest ~N the caller does not report as taken.
FatShortName MakeShortAlias(std::string_view longName, const std::function<bool(const FatShortName&)>& taken);

std::u16string Utf8ToUtf16(std::string_view text);
std::uint8_t LongNameChecksum(const FatShortName& name);

// The long-name slots for a name, in on-disk order (highest ordinal first).
std::vector<FatSlot> LongNameSlots(const std::u16string& name, const FatShortName& shortName);

} // namespace TestSupport
