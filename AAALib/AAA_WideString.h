#pragma once
// The engine keeps names and paths as UTF-16 code units exactly as the card
// stores them; UTF-8 exists only at the boundary to the operating system and log.
#include <string>
#include <string_view>

namespace AAA {

using WString = std::u16string;
using WStringView = std::u16string_view;

// Lone surrogates become U+FFFD so the result is always valid UTF-8.
std::string ToUtf8(WStringView text);
// Invalid UTF-8 sequences become U+FFFD.
WString FromUtf8(std::string_view text);

// True when every surrogate in `text` is part of a proper pair.
bool IsWellFormedUtf16(WStringView text);

} // namespace AAA
