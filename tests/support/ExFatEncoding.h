#pragma once
// Byte-level pieces of the exFAT on-disk format shared by the image builder and
// its tests: checksums, the up-case table, timestamps, names and 32-byte entries.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport::ExFat {

using Slot = std::array<uint8_t, 32>;

constexpr uint8_t kEntryEndOfDirectory = 0x00;
constexpr uint8_t kEntryAllocationBitmap = 0x81;
constexpr uint8_t kEntryUpCaseTable = 0x82;
constexpr uint8_t kEntryVolumeLabel = 0x83;
constexpr uint8_t kEntryFile = 0x85;
constexpr uint8_t kEntryStreamExtension = 0xC0;
constexpr uint8_t kEntryFileName = 0xC1;
constexpr uint8_t kEntryVendorExtension = 0xE0;
constexpr uint8_t kEntryVendorAllocation = 0xE1;
constexpr uint8_t kInUseBit = 0x80;

constexpr uint8_t kStreamAllocationPossible = 0x01;
constexpr uint8_t kStreamNoFatChain = 0x02;

constexpr uint32_t kFatEndOfChain = 0xFFFFFFFF;
constexpr uint32_t kFatMediaEntry = 0xFFFFFFF8;
constexpr uint32_t kFatBadCluster = 0xFFFFFFF7;

constexpr size_t kNameUnitsPerEntry = 15;
constexpr size_t kMaxNameUnits = 255;
constexpr size_t kLabelUnits = 11;

template <typename T>
void PutLe(uint8_t* at, T value) {
    for (size_t i = 0; i < sizeof(T); ++i)
        at[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

template <typename T>
T GetLe(const uint8_t* at) {
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<uint64_t>(at[i]) << (8 * i);
    return static_cast<T>(value);
}

// UTF-8 to UTF-16 (surrogate pairs for code points above U+FFFF). Throws on bad input.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

// Checksum over the boot region's first 11 sectors; bytes 106, 107 and 112 of
// the boot sector (volume flags, percent in use) are left out.
uint32_t BootRegionChecksum(const std::vector<uint8_t>& firstElevenSectors, size_t sectorSize);
// Rotating 32-bit sum used for the up-case table.
uint32_t TableChecksum(const std::vector<uint8_t>& bytes);
// SetChecksum of an entry set: every byte of every slot except bytes 2 and 3 of the first.
uint16_t SetChecksum(const std::vector<Slot>& set);
// NameHash over the up-cased name; upCase maps every UTF-16 unit (65536 entries).
uint16_t NameHash(const std::u16string& name, const std::vector<uint16_t>& upCase);

// Up-case tables. The compressed form writes identity runs as 0xFFFF, length.
// The builder's own table maps ASCII, Latin-1, Latin Extended-A, basic Greek,
// basic Cyrillic and full-width Latin letters.
std::vector<uint16_t> DefaultUpCaseMapping();
std::vector<uint8_t> CompressUpCase(const std::vector<uint16_t>& mapping);
std::vector<uint8_t> FullUpCase(const std::vector<uint16_t>& mapping);
// Expands a table in either form into 65536 entries (missing tail = identity).
std::vector<uint16_t> ExpandUpCase(const std::vector<uint8_t>& table);

// A local date and time as stored in File entries.
struct Timestamp {
    uint16_t year = 2020;  // 1980..2107
    uint8_t month = 1;
    uint8_t day = 1;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;    // 0..59; an odd second is carried by the 10 ms byte
    uint8_t tenMs = 0;     // hundredths within the second, 0..99
    uint8_t utcOffset = 0; // raw byte: bit 7 valid, bits 0-6 signed 15-minute steps
};
uint32_t EncodeTimestamp(const Timestamp& time);
// The 10 ms increment byte that goes with EncodeTimestamp (0..199).
uint8_t EncodeTenMs(const Timestamp& time);

} // namespace TestSupport::ExFat
