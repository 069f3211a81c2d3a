#pragma once
// Names of entries the recovery invents: an optional zero-padded number, a
// prefix, a second optional number and a suffix (100CDPFP, IMGA0001.JPG, 00000.MTS).
#include <array>
#include <cstdint>

#include "AAA_WideString.h"

namespace FSAccessLib {

struct EntryNameRule {
    bool folderRule = false;
    uint32_t width1 = 0;  // 0: no first number
    uint32_t min1 = 0;
    uint32_t max1 = 0;
    AAA::WString prefix;
    uint32_t width2 = 0;  // 0: no second number
    uint32_t min2 = 0;
    uint32_t max2 = 0;
    AAA::WString suffix;
};

// The three DCF folder rules, then the DCF file rule.
const std::array<EntryNameRule, 4>& DcfRuleTable();
constexpr size_t kDcfFileRuleRow = 3;
// 00000.MTS to 99999.MTS.
const EntryNameRule& AvchdStreamRule();

// kind 0: prefix+suffix; 1: first+prefix+suffix; 2: prefix+second+suffix;
// 3: first+prefix+second+suffix. A missing number or unknown kind logs an
// argument error and yields an empty name.
AAA::WString NewEntry(const EntryNameRule& rule, int kind, const uint32_t* first, const uint32_t* second);

// Whether the number the kind uses lies in the rule's range. Kind 1 without a
// first number is a caller error (InvalidDataException); kind 2 without a
// second number is false; other kinds are true.
bool NewEntryInRange(const EntryNameRule& rule, int kind, const uint32_t* first, const uint32_t* second);

} // namespace FSAccessLib
