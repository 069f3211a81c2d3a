#pragma once
// The 32-byte exFAT directory entries, each type's layout declared once by
// byte offset. The type byte chooses the layout, with the in-use bit forced
// on, so a deleted entry reads as its live form. The rows size and order the
// entry records' fields and give the places the pure decoders below read;
// static_asserts prove every layout fills the 32 bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "AAA_RecordLayout.h"

// ROW(kind, name, offset, bytes). An entry of no known type.
#define EXFAT_ENTRY_LAYOUT(ROW)                  \
    ROW(LE, EntryType, 0, 1)                     \
    ROW(BE, CustomDefined, 1, 19)                \
    ROW(LE, FirstCluster, 20, 4)                 \
    ROW(LE, DataLength, 24, 8)

#define EXFAT_PRIMARY_ENTRY_LAYOUT(ROW)          \
    ROW(LE, EntryType, 0, 1)                     \
    ROW(LE, SecondaryCount, 1, 1)                \
    ROW(LE, SetChecksum, 2, 2)                   \
    ROW(LE, GeneralPrimaryFlags, 4, 2)           \
    ROW(BE, CustomDefined, 6, 14)                \
    ROW(LE, FirstCluster, 20, 4)                 \
    ROW(LE, DataLength, 24, 8)

#define EXFAT_SECONDARY_ENTRY_LAYOUT(ROW)        \
    ROW(LE, EntryType, 0, 1)                     \
    ROW(LE, GeneralSecondaryFlags, 1, 1)         \
    ROW(BE, CustomDefined, 2, 18)                \
    ROW(LE, FirstCluster, 20, 4)                 \
    ROW(LE, DataLength, 24, 8)

#define EXFAT_VOLUME_LABEL_ENTRY_LAYOUT(ROW)     \
    ROW(LE, EntryType, 0, 1)                     \
    ROW(LE, CharacterCount, 1, 1)                \
    ROW(Utf16, VolumeLabel, 2, 22)               \
    ROW(BE, Reserved, 24, 8)

#define EXFAT_FILE_ENTRY_LAYOUT(ROW)             \
    ROW(LE, EntryType, 0, 1)                     \
    ROW(LE, SecondaryCount, 1, 1)                \
    ROW(LE, SetChecksum, 2, 2)                   \
    ROW(LE, FileAttributes, 4, 2)                \
    ROW(BE, Reserved1, 6, 2)                     \
    ROW(LE, CreateTimestamp, 8, 4)               \
    ROW(LE, LastModifiedTimestamp, 12, 4)        \
    ROW(LE, LastAccessedTimestamp, 16, 4)        \
    ROW(LE, Create10msIncrement, 20, 1)          \
    ROW(LE, LastModified10msIncrement, 21, 1)    \
    ROW(LE, CreateUtcOffset, 22, 1)              \
    ROW(LE, LastModifiedUtcOffset, 23, 1)        \
    ROW(LE, LastAccessedUtcOffset, 24, 1)        \
    ROW(BE, Reserved2, 25, 7)

#define EXFAT_STREAM_EXTENSION_ENTRY_LAYOUT(ROW) \
    ROW(LE, EntryType, 0, 1)                     \
    ROW(LE, GeneralSecondaryFlags, 1, 1)         \
    ROW(BE, Reserved1, 2, 1)                     \
    ROW(LE, NameLength, 3, 1)                    \
    ROW(LE, NameHash, 4, 2)                      \
    ROW(BE, Reserved2, 6, 2)                     \
    ROW(LE, ValidDataLength, 8, 8)               \
    ROW(BE, Reserved3, 16, 4)                    \
    ROW(LE, FirstCluster, 20, 4)                 \
    ROW(LE, DataLength, 24, 8)

#define EXFAT_FILE_NAME_ENTRY_LAYOUT(ROW)        \
    ROW(LE, EntryType, 0, 1)                     \
    ROW(LE, GeneralSecondaryFlags, 1, 1)         \
    ROW(Utf16, FileName, 2, 30)

namespace FSAccessLib::ExFAT {

inline constexpr size_t kEntryBytes = 32;
using SlotBytes = std::array<uint8_t, kEntryBytes>;

static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_ENTRY_LAYOUT), 0, kEntryBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_PRIMARY_ENTRY_LAYOUT), 0, kEntryBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_SECONDARY_ENTRY_LAYOUT), 0, kEntryBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_VOLUME_LABEL_ENTRY_LAYOUT), 0, kEntryBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_FILE_ENTRY_LAYOUT), 0, kEntryBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_STREAM_EXTENSION_ENTRY_LAYOUT), 0, kEntryBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_FILE_NAME_ENTRY_LAYOUT), 0, kEntryBytes));

constexpr uint8_t kInUseBit = 0x80;
constexpr uint8_t kTypeEndOfDirectory = 0x00;
constexpr uint8_t kTypeUnusedInUse = 0x80; // an in-use bit with no type: never stored
constexpr uint8_t kTypeAllocationBitmap = 0x81;
constexpr uint8_t kTypeUpCaseTable = 0x82;
constexpr uint8_t kTypeVolumeLabel = 0x83;
constexpr uint8_t kTypeFile = 0x85;
constexpr uint8_t kTypeVolumeGuid = 0xA0;
constexpr uint8_t kTypeStreamExtension = 0xC0;
constexpr uint8_t kTypeFileName = 0xC1;
constexpr uint8_t kTypeVendorExtension = 0xE0;
constexpr uint8_t kTypeVendorAllocation = 0xE1;

constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kFlagNoFatChain = 0x02;
constexpr size_t kNameUnitsPerEntry = 15;

// The places of the fields, for looks at raw entries.
namespace FileField {
EXFAT_FILE_ENTRY_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace FileField
namespace StreamField {
EXFAT_STREAM_EXTENSION_ENTRY_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace StreamField

// The type an entry's type byte names, deleted or not.
constexpr uint8_t LiveType(uint8_t entryType) { return entryType | kInUseBit; }

// The type byte of a raw entry of any type.
constexpr uint8_t EntryTypeOf(std::span<const uint8_t> entry) {
    return static_cast<uint8_t>(AAA::LittleEndianAt(entry, FileField::EntryType));
}

// A raw File entry's set fields as plain values.
struct FileEntryValues {
    uint8_t entryType = 0;
    uint8_t secondaryCount = 0;
    uint16_t setChecksum = 0;
    uint16_t fileAttributes = 0;
};

// A raw Stream Extension entry as plain values.
struct StreamExtensionValues {
    uint8_t entryType = 0;
    uint8_t generalSecondaryFlags = 0;
    uint8_t nameLength = 0;
    uint64_t validDataLength = 0;
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
};

// `entry` (32 bytes; a shorter one decodes as zeros) read as a File entry.
constexpr FileEntryValues DecodeFileEntry(std::span<const uint8_t> entry) {
    using AAA::LittleEndianAt;
    FileEntryValues values;
    values.entryType = static_cast<uint8_t>(LittleEndianAt(entry, FileField::EntryType));
    values.secondaryCount = static_cast<uint8_t>(LittleEndianAt(entry, FileField::SecondaryCount));
    values.setChecksum = static_cast<uint16_t>(LittleEndianAt(entry, FileField::SetChecksum));
    values.fileAttributes = static_cast<uint16_t>(LittleEndianAt(entry, FileField::FileAttributes));
    return values;
}

// `entry` read as a Stream Extension entry.
constexpr StreamExtensionValues DecodeStreamExtension(std::span<const uint8_t> entry) {
    using AAA::LittleEndianAt;
    StreamExtensionValues values;
    values.entryType = static_cast<uint8_t>(LittleEndianAt(entry, StreamField::EntryType));
    values.generalSecondaryFlags = static_cast<uint8_t>(LittleEndianAt(entry, StreamField::GeneralSecondaryFlags));
    values.nameLength = static_cast<uint8_t>(LittleEndianAt(entry, StreamField::NameLength));
    values.validDataLength = LittleEndianAt(entry, StreamField::ValidDataLength);
    values.firstCluster = static_cast<uint32_t>(LittleEndianAt(entry, StreamField::FirstCluster));
    values.dataLength = LittleEndianAt(entry, StreamField::DataLength);
    return values;
}

// The SetChecksum of a whole entry set: every byte but the checksum's own two.
constexpr uint16_t EntrySetChecksum(std::span<const uint8_t> set) {
    uint16_t checksum = 0;
    for (size_t i = 0; i < set.size(); ++i) {
        if (i >= FileField::SetChecksum.offset && i < FileField::SetChecksum.End())
            continue;
        checksum = static_cast<uint16_t>(((checksum & 1) ? 0x8000 : 0) + (checksum >> 1) + set[i]);
    }
    return checksum;
}

} // namespace FSAccessLib::ExFAT
