#include "AAA_StringTable.h"

#include <string>

#include <gtest/gtest.h>

#include "LogCapture.h"

namespace {

using AAA::Language;
using AAATest::ScopedEnv;

TEST(StringTable, EnglishTextsAreExact) {
    const std::pair<int, const char*> expected[] = {
        {100, "The error not expected occurred.\n\nThe specified recovery object cannot be recovered."},
        {101, "The internal error occurred.\n\nThe specified recovery object cannot be recovered."},
        {102, "It was canceled."},
        {103, "A folder necessary for the recovery is not found\n\nThe specified recovery object cannot be recovered."},
        {104, "A file necessary for the recovery is not found.\n\nThe specified recovery object cannot be recovered."},
        {105, "There is no empty memory necessary for the recovery."},
        {106, "The error occurred while reading or writing the file."},
        {107, "The path name or the file name exceeds the maximum length of the system definition."},
        {108, "The memory card or the disk is read-only."},
        {109, "Invalid data to the specified recovery object is included.\n\nThe specified recovery object cannot be "
              "recovered."},
        {110, "The terminal of the file not expected was detected."},
        {111, "There is no empty area enough for the memory card or the disk."},
        {112, "The stream is broken."},
        {113, "Sorry.\n\nIt is not possible to recover it because of the data recorded with the product not supported."},
        {114, "Sorry.\n\nIt is not possible to recover this card. Only SD or SDHC or SDXC cards are capable."},
    };
    for (const auto& [id, text] : expected)
        EXPECT_EQ(AAA::ToUtf8(AAA::LoadString(id, Language::English)), text) << "id " << id;
}

bool HasKana(const AAA::WString& text) {
    for (char16_t c : text)
        if (c >= 0x3040 && c <= 0x30FF)
            return true;
    return false;
}

bool HasHan(const AAA::WString& text) {
    for (char16_t c : text)
        if (c >= 0x4E00 && c <= 0x9FFF)
            return true;
    return false;
}

TEST(StringTable, TranslationsExistForEveryIdWithinTheCap) {
    for (int id = 100; id <= 114; ++id) {
        const AAA::WString ja = AAA::LoadString(id, Language::Japanese);
        const AAA::WString zh = AAA::LoadString(id, Language::SimplifiedChinese);
        SCOPED_TRACE(id);
        EXPECT_TRUE(HasKana(ja));
        EXPECT_TRUE(HasHan(zh));
        EXPECT_FALSE(HasKana(zh)); // Chinese text, not the Japanese one
        for (const AAA::WString& text : {ja, zh, AAA::LoadString(id, Language::English)}) {
            EXPECT_LE(text.size(), 255u);
            EXPECT_TRUE(AAA::IsWellFormedUtf16(text));
        }
    }
}

TEST(StringTable, UnknownIdsAreEmptyInEveryLanguage) {
    for (int id : {-1, 0, 99, 99999})
        for (Language language : {Language::English, Language::Japanese, Language::SimplifiedChinese})
            EXPECT_TRUE(AAA::LoadString(id, language).empty()) << id;
}

TEST(LanguageFromLocale, PicksByPrefix) {
    EXPECT_EQ(AAA::LanguageFromLocale("ja_JP.UTF-8"), Language::Japanese);
    EXPECT_EQ(AAA::LanguageFromLocale("ja"), Language::Japanese);
    EXPECT_EQ(AAA::LanguageFromLocale("zh_CN.UTF-8"), Language::SimplifiedChinese);
    EXPECT_EQ(AAA::LanguageFromLocale("zh_SG"), Language::SimplifiedChinese);
    EXPECT_EQ(AAA::LanguageFromLocale("zh_Hans_CN"), Language::SimplifiedChinese);
    // Traditional-script regions and bare "zh" stay English.
    EXPECT_EQ(AAA::LanguageFromLocale("zh_TW.UTF-8"), Language::English);
    EXPECT_EQ(AAA::LanguageFromLocale("zh_HK"), Language::English);
    EXPECT_EQ(AAA::LanguageFromLocale("zh"), Language::English);
    EXPECT_EQ(AAA::LanguageFromLocale("en_US.UTF-8"), Language::English);
    EXPECT_EQ(AAA::LanguageFromLocale("C"), Language::English);
    EXPECT_EQ(AAA::LanguageFromLocale(""), Language::English);
    EXPECT_EQ(AAA::LanguageFromLocale(nullptr), Language::English);
}

TEST(ProcessLanguage, FirstSetVariableWins) {
    ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
    EXPECT_EQ(AAA::ProcessLanguage(), Language::English);
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(AAA::ProcessLanguage(), Language::SimplifiedChinese);
    ::setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
    EXPECT_EQ(AAA::ProcessLanguage(), Language::Japanese);
    ::setenv("LC_ALL", "en_GB.UTF-8", 1);
    EXPECT_EQ(AAA::ProcessLanguage(), Language::English);
    // An empty value counts as unset.
    ::setenv("LC_ALL", "", 1);
    EXPECT_EQ(AAA::ProcessLanguage(), Language::Japanese);
}

TEST(LoadString, FollowsTheEnvironment) {
    ScopedEnv all("LC_ALL", "ja_JP.UTF-8");
    EXPECT_EQ(AAA::LoadString(102), AAA::LoadString(102, Language::Japanese));
    EXPECT_EQ(AAA::LoadStringUtf8(102), AAA::ToUtf8(AAA::LoadString(102, Language::Japanese)));
    ::setenv("LC_ALL", "zh_SG", 1);
    EXPECT_EQ(AAA::LoadString(110), AAA::LoadString(110, Language::SimplifiedChinese));
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(AAA::LoadStringUtf8(102), "It was canceled.");
}

} // namespace
