#pragma once
// The exFAT boot sector, declared once by byte offset. The rows make the
// record's fields and read order and the places raw looks use; a
// static_assert proves the layout fills 512 bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "AAA_Field.h"
#include "AAA_RecordLayout.h"

// ROW(kind, name, offset, bytes); Revision and Flags are blocks of their own.
#define EXFAT_BOOT_LAYOUT(ROW)                  \
    ROW(BE, JumpBoot, 0, 3)                     \
    ROW(Str, FileSystemName, 3, 8)              \
    ROW(BE, MustBeZero, 11, 53)                 \
    ROW(LE, PartitionOffset, 64, 8)             \
    ROW(LE, VolumeLength, 72, 8)                \
    ROW(LE, FatOffset, 80, 4)                   \
    ROW(LE, FatLength, 84, 4)                   \
    ROW(LE, ClusterHeapOffset, 88, 4)           \
    ROW(LE, ClusterCount, 92, 4)                \
    ROW(LE, FirstClusterOfRootDirectory, 96, 4) \
    ROW(LE, VolumeSerialNumber, 100, 4)         \
    ROW(Revision, FileSystemRevision, 104, 2)   \
    ROW(Flags, VolumeFlags, 106, 2)             \
    ROW(LE, BytesPerSectorShift, 108, 1)        \
    ROW(LE, SectorsPerClusterShift, 109, 1)     \
    ROW(LE, NumberOfFats, 110, 1)               \
    ROW(LE, DriveSelect, 111, 1)                \
    ROW(LE, PercentInUse, 112, 1)               \
    ROW(BE, Reserved, 113, 7)                   \
    ROW(BE, BootCode, 120, 390)                 \
    ROW(BE, BootSignature, 510, 2)

#define EXFAT_REVISION_LAYOUT(ROW)              \
    ROW(LE, minor_revision_number, 0, 1)        \
    ROW(LE, major_revision_number, 1, 1)

#define AAA_FIELD_Revision(name, bytes) ExFAT::FileSystemRevision name;
#define AAA_FIELD_Flags(name, bytes) ExFAT::VolumeFlags name;

namespace FSAccessLib::ExFAT {

inline constexpr size_t kBootSectorBytes = 512;

// The places of the fields, for looks at raw sectors.
namespace BootField {
EXFAT_BOOT_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace BootField

static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_BOOT_LAYOUT), 0, kBootSectorBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(EXFAT_REVISION_LAYOUT), 0, BootField::FileSystemRevision.bytes));

// Whether `sector` names itself exFAT where the boot sector keeps its name.
constexpr bool HoldsExFatName(std::span<const uint8_t> sector) {
    return AAA::BytesAtEqual(sector, BootField::FileSystemName, "EXFAT   ");
}

class FileSystemRevision : public AAA::Block {
public:
    FileSystemRevision();
    void Link() override;

    EXFAT_REVISION_LAYOUT(AAA_LAYOUT_MEMBER)
};

// The little-endian flag word at boot-sector offset 106, split into its bits.
class VolumeFlags : public AAA::Block {
public:
    VolumeFlags();
    void Link() override;
    void Read(AAA::BitReader& reader) override;

    AAA::Field::LE Raw{16, "VolumeFlags"};
    AAA::Field::BE ActiveFat{1, "ActiveFat"};
    AAA::Field::BE VolumeDirty{1, "VolumeDirty"};
    AAA::Field::BE MediaFailure{1, "MediaFailure"};
    AAA::Field::BE ClearToZero{1, "ClearToZero"};
    AAA::Field::BE Reserved{12, "Reserved"};
};

class BootSector : public AAA::Block {
public:
    BootSector();
    void Link() override;
    // Reads the 512 bytes, then makes the checks; a failed check is logged and
    // raises InvalidDataException (109).
    void Read(AAA::BitReader& reader) override;
    // Sector and cluster shifts inside exFAT's ranges, a volume size that fits 64 bits.
    void CheckShifts() const;

    EXFAT_BOOT_LAYOUT(AAA_LAYOUT_MEMBER)

private:
    void CheckSignatures() const;
};

} // namespace FSAccessLib::ExFAT
