#pragma once
// The program's string table: every user-facing text by numeric id, in English,
// Japanese and Simplified Chinese. Shared by the engine and both front ends.
#include <initializer_list>
#include <string>

#include "AAA_WideString.h"

namespace AAA {

enum class Language { English, Japanese, SimplifiedChinese };

// Picks the language from LC_ALL, LC_MESSAGES, LANG (first one set):
// ja* -> Japanese; zh_CN, zh_SG, zh_Hans* -> Simplified Chinese; else English.
Language LanguageFromLocale(const char* localeName);
Language ProcessLanguage();

// The text for `id`, at most 255 UTF-16 units; empty for an unknown id.
WString LoadString(int id);
WString LoadString(int id, Language language);
// UTF-8 form, for front ends that print.
std::string LoadStringUtf8(int id);
// Replaces "{0}", "{1}", ... in `text` by the values in order.
std::string FillPlaceholders(std::string text, std::initializer_list<std::string> values);

} // namespace AAA
