#pragma once
// The FAT boot sector, declared once by byte offset: the prefix every FAT
// volume begins with, then the FAT12/16 and the FAT32 extension. The rows
// below make the records' fields, their read order, the offset constants and
// the decoding of raw sectors; static_asserts prove each layout fills 512 bytes.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "AAA_Field.h"
#include "AAA_RecordLayout.h"

// ROW(kind, name, offset, bytes)
#define FAT_BOOT_PREFIX_LAYOUT(ROW)                 \
    ROW(BE, JumpCommand, 0, 3)                      \
    ROW(Str, CreatingSystemIdentifier, 3, 8)        \
    ROW(LE, SectorSize, 11, 2)                      \
    ROW(LE, SectorsPerCluster, 13, 1)               \
    ROW(LE, ReservedSectorCount, 14, 2)             \
    ROW(LE, NumberOfFATs, 16, 1)                    \
    ROW(LE, NumberOfRootDirectoryEntries, 17, 2)    \
    ROW(LE, TotalSectors1, 19, 2)                   \
    ROW(BE, MediumIdentifier, 21, 1)                \
    ROW(LE, SectorsPerFAT, 22, 2)                   \
    ROW(LE, SectorsPerTrack, 24, 2)                 \
    ROW(LE, NumberOfSides, 26, 2)                   \
    ROW(LE, NumberOfHiddenSectors, 28, 4)           \
    ROW(LE, TotalSectors2, 32, 4)

// Every type's sector ends with the signature word.
#define FAT_BOOT_SIGNATURE_LAYOUT(ROW) ROW(BE, SignatureWord, 510, 2)

#define FAT1216_BOOT_EXTENSION_LAYOUT(ROW)          \
    ROW(LE, PhysicalDiskNumber, 36, 1)              \
    ROW(BE, Reserved, 37, 1)                        \
    ROW(BE, ExtendedBootRecordSignature, 38, 1)     \
    ROW(LE, VolumeIdNumber, 39, 4)                  \
    ROW(Str, VolumeLabel, 43, 11)                   \
    ROW(Str, FileSystemType, 54, 8)                 \
    ROW(BE, ReservedForSystemUse, 62, 448)          \
    FAT_BOOT_SIGNATURE_LAYOUT(ROW)

// Extension is the flag word, a block of bit fields (FAT32::ExtensionFlag).
#define FAT32_BOOT_EXTENSION_LAYOUT(ROW)            \
    ROW(LE, SectorsPerFAT32, 36, 4)                 \
    ROW(ExtensionFlag, Extension, 40, 2)            \
    ROW(LE, FsVersion, 42, 2)                       \
    ROW(LE, RootCluster, 44, 4)                     \
    ROW(LE, FsInfo, 48, 2)                          \
    ROW(LE, BackupBootSector, 50, 2)                \
    ROW(BE, Reserved1, 52, 12)                      \
    ROW(LE, PhysicalDiskNumber, 64, 1)              \
    ROW(BE, Reserved2, 65, 1)                       \
    ROW(BE, ExtendedBootRecordSignature, 66, 1)     \
    ROW(LE, VolumeIDNumber, 67, 4)                  \
    ROW(Str, VolumeLabel, 71, 11)                   \
    ROW(Str, FileSystemType, 82, 8)                 \
    ROW(BE, ReservedForSystemUse, 90, 420)          \
    FAT_BOOT_SIGNATURE_LAYOUT(ROW)

// FAT32's FSInfo sector, named by the boot sector's FsInfo field.
#define FAT32_FSINFO_LAYOUT(ROW)                    \
    ROW(Str, LeadSignature, 0, 4)                   \
    ROW(BE, Reserved1, 4, 480)                      \
    ROW(Str, StructureSignature, 484, 4)            \
    ROW(LE, FreeClusterCount, 488, 4)               \
    ROW(LE, NextFreeCluster, 492, 4)                \
    ROW(BE, Reserved2, 496, 12)                     \
    ROW(Str, TrailSignature, 508, 4)

// The whole sectors in disk order.
#define FAT1216_BOOT_LAYOUT(ROW) FAT_BOOT_PREFIX_LAYOUT(ROW) FAT1216_BOOT_EXTENSION_LAYOUT(ROW)
#define FAT32_BOOT_LAYOUT(ROW) FAT_BOOT_PREFIX_LAYOUT(ROW) FAT32_BOOT_EXTENSION_LAYOUT(ROW)

namespace FSAccessLib {

// Byte offsets of the prefix, and where each part ends.
namespace BootOffset {
FAT_BOOT_PREFIX_LAYOUT(AAA_LAYOUT_OFFSET)
FAT_BOOT_SIGNATURE_LAYOUT(AAA_LAYOUT_OFFSET)
inline constexpr int PrefixEnd = 36;
inline constexpr int SectorEnd = 512;
} // namespace BootOffset

// The places of the fields, for looks at raw sectors.
namespace BootField {
FAT_BOOT_PREFIX_LAYOUT(AAA_LAYOUT_PLACE)
FAT_BOOT_SIGNATURE_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace BootField
namespace BootField1216 {
FAT1216_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace BootField1216
namespace BootField32 {
FAT32_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace BootField32

static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT_BOOT_PREFIX_LAYOUT), 0, BootOffset::PrefixEnd));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT1216_BOOT_EXTENSION_LAYOUT), BootOffset::PrefixEnd, BootOffset::SectorEnd));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT32_BOOT_EXTENSION_LAYOUT), BootOffset::PrefixEnd, BootOffset::SectorEnd));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT1216_BOOT_LAYOUT), 0, BootOffset::SectorEnd));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT32_BOOT_LAYOUT), 0, BootOffset::SectorEnd));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT32_FSINFO_LAYOUT), 0, BootOffset::SectorEnd));

// The numbers of the prefix as plain values.
struct FatBootPrefixValues {
    uint32_t sectorSize = 0;
    uint32_t sectorsPerCluster = 0;
    uint32_t reservedSectorCount = 0;
    uint32_t numberOfFATs = 0;
    uint32_t numberOfRootDirectoryEntries = 0;
    uint32_t totalSectors1 = 0;
    uint32_t sectorsPerFAT = 0;
    uint32_t totalSectors2 = 0;
    bool signatureWord = false; // 0x55 0xAA at the sector's end
};

// The prefix of `sector` (512 bytes; a shorter one decodes as zeros).
constexpr FatBootPrefixValues DecodeFatBootPrefix(std::span<const uint8_t> sector) {
    const auto at = [sector](AAA::FieldSpan field) { return static_cast<uint32_t>(AAA::LittleEndianAt(sector, field)); };
    FatBootPrefixValues values;
    values.sectorSize = at(BootField::SectorSize);
    values.sectorsPerCluster = at(BootField::SectorsPerCluster);
    values.reservedSectorCount = at(BootField::ReservedSectorCount);
    values.numberOfFATs = at(BootField::NumberOfFATs);
    values.numberOfRootDirectoryEntries = at(BootField::NumberOfRootDirectoryEntries);
    values.totalSectors1 = at(BootField::TotalSectors1);
    values.sectorsPerFAT = at(BootField::SectorsPerFAT);
    values.totalSectors2 = at(BootField::TotalSectors2);
    values.signatureWord = AAA::BytesAtEqual(sector, BootField::SignatureWord, "\x55\xAA");
    return values;
}

class FatBootSectorPrefix : public AAA::Block {
public:
    FAT_BOOT_PREFIX_LAYOUT(AAA_LAYOUT_MEMBER)

protected:
    explicit FatBootSectorPrefix(std::string blockName) : AAA::Block(std::move(blockName)) {}
    // Lists the prefix, then the type's own fields in disk order, and links them.
    void LinkAfterPrefix(std::initializer_list<AAA::Element*> own) {
        std::vector<AAA::Element*> members = {FAT_BOOT_PREFIX_LAYOUT(AAA_LAYOUT_ADDRESS)};
        members.insert(members.end(), own.begin(), own.end());
        SetMembers(std::move(members));
        AAA::Block::Link();
    }
};

} // namespace FSAccessLib
