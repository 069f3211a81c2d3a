#include "EntryNameRule.h"

#include <string>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"

namespace FSAccessLib {
namespace {

constexpr const char* kSourceFile = "FSAccessLib/EntryNameRule";

AAA::WString Padded(uint32_t number, uint32_t width) {
    const std::string digits = std::to_string(number);
    AAA::WString text;
    if (digits.size() < width)
        text.assign(width - digits.size(), u'0');
    text.append(digits.begin(), digits.end());
    return text;
}

void LogArgumentError(int line) {
    AAA::DebugLog(7, "%S(%d): NewEntry(): Argument Error\n", kSourceFile, line);
}

EntryNameRule FolderRule(const char16_t* prefix) {
    EntryNameRule rule;
    rule.folderRule = true;
    rule.width1 = 3;
    rule.min1 = 100;
    rule.max1 = 999;
    rule.prefix = prefix;
    return rule;
}

} // namespace

const std::array<EntryNameRule, 4>& DcfRuleTable() {
    static const std::array<EntryNameRule, 4> table = [] {
        EntryNameRule file;
        file.prefix = u"IMGA";
        file.width2 = 4;
        file.min2 = 1;
        file.max2 = 9999;
        file.suffix = u".JPG";
        return std::array<EntryNameRule, 4>{FolderRule(u"CDPFP"), FolderRule(u"CDPFQ"), FolderRule(u"CDPFR"),
                                            file};
    }();
    return table;
}

const EntryNameRule& AvchdStreamRule() {
    static const EntryNameRule rule = [] {
        EntryNameRule stream;
        stream.folderRule = true;
        stream.width1 = 5;
        stream.min1 = 0;
        stream.max1 = 99999;
        stream.suffix = u".MTS";
        return stream;
    }();
    return rule;
}

AAA::WString NewEntry(const EntryNameRule& rule, int kind, const uint32_t* first, const uint32_t* second) {
    const bool needsFirst = kind == 1 || kind == 3;
    const bool needsSecond = kind == 2 || kind == 3;
    if (kind < 0 || kind > 3 || (needsFirst && first == nullptr) || (needsSecond && second == nullptr)) {
        LogArgumentError(__LINE__);
        return {};
    }
    AAA::WString name;
    if (needsFirst)
        name += Padded(*first, rule.width1);
    name += rule.prefix;
    if (needsSecond)
        name += Padded(*second, rule.width2);
    name += rule.suffix;
    return name;
}

bool NewEntryInRange(const EntryNameRule& rule, int kind, const uint32_t* first, const uint32_t* second) {
    if (kind == 1) {
        if (rule.width1 == 0 || first == nullptr) {
            LogArgumentError(__LINE__);
            AAA::ThrowLogged<AAA::InvalidDataException>(kSourceFile, __LINE__, "AAA::InvalidDataException()");
        }
        return rule.min1 <= *first && *first <= rule.max1;
    }
    if (kind == 2) {
        if (rule.width2 == 0 || second == nullptr) {
            LogArgumentError(__LINE__);
            return false;
        }
        return rule.min2 <= *second && *second <= rule.max2;
    }
    return true;
}

} // namespace FSAccessLib
