#pragma once
// FAT12/FAT16 on-disk records: the boot sector, the two table widths and the
// 32-byte directory entries with their directories. Every record reads from
// any AAA::Stream (a memory stream in tests and fuzzers, the card otherwise).
#include <cstddef>
#include <cstdint>

#include "AAA_Field.h"
#include "AAA_Stream.h"
#include "DirectoryEntryBase.h"
#include "FatBootSector.h"
#include "FatDirectorySlots.h"

namespace FSAccessLib::FAT1216 {

// Source file named by the check reports of this reader.
inline constexpr const char* kSourceFile = "FSAccessLib/FSSpecFAT16";

// The FAT12/16 part after the shared prefix, by byte offset.
namespace BootOffset1216 {
FAT1216_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_OFFSET)
} // namespace BootOffset1216

class ExtendedFDCDescriptor : public FatBootSectorPrefix {
public:
    ExtendedFDCDescriptor();
    void Link() override;
    // The seven boot-sector checks in order; the first failure is reported to
    // the log and raises InvalidDataException (109).
    void Check() const;
    // TotalSectors1, or TotalSectors2 when TotalSectors1 is 0.
    uint32_t TotalSectors() const;

    FAT1216_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_MEMBER)

private:
    void CheckTotalSectors() const;
};

// One table copy held in memory; entry n is the value for cluster n. Setting
// NumberOfEntries resizes the packed array.
class FileAllocationTable1216Base : public AAA::Block {
public:
    FileAllocationTable1216Base(const char* blockName, int entryBits);
    FileAllocationTable1216Base(const FileAllocationTable1216Base&) = delete;
    virtual ~FileAllocationTable1216Base() = default;
    void Link() override;
    virtual bool IsEndOfChain(uint32_t value) const = 0;
    size_t MemoryBytes() const { return Entry.MemoryBytes(); }

    AAA::Field::LE NumberOfEntries{32, "NumberOfEntries"}; // not on disk
    AAA::Array<AAA::Field::LE> Entry;
    uint32_t clusterLimit = 0; // cluster numbers at or above end a chain
};

// Entries packed two in three bytes; read as 12-bit fields and then put back
// into the values the FAT standard defines.
class FileAllocationTable12 : public FileAllocationTable1216Base {
public:
    FileAllocationTable12();
    void Read(AAA::BitReader& reader) override;
    bool IsEndOfChain(uint32_t value) const override;
    // The entry count for a table of `fatBytes` bytes.
    static uint32_t EntriesFor(uint32_t fatBytes) { return fatBytes * 2 / 3; }
};

class FileAllocationTable16 : public FileAllocationTable1216Base {
public:
    FileAllocationTable16();
    bool IsEndOfChain(uint32_t value) const override;
    static uint32_t EntriesFor(uint32_t fatBytes) { return fatBytes / 2; }
};

// Entries 0 and 1 of the first FAT16 copy; entry 1 tells which copy to load.
#define FAT16_TABLE_HEAD_LAYOUT(ROW) ROW(LE, EntryArray0, 0, 2) ROW(LE, EntryArray1, 2, 2)
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT16_TABLE_HEAD_LAYOUT), 0, 4));

class FileAllocationTable16Check : public AAA::Block {
public:
    FileAllocationTable16Check();
    void Link() override;

    FAT16_TABLE_HEAD_LAYOUT(AAA_LAYOUT_MEMBER)
};

class DirectoryEntry1216 : public DirectoryEntryBase {
public:
    DirectoryEntry1216();
    DirectoryEntry1216(const DirectoryEntry1216& other);
    void Link() override;
    // A plausible short-name slot (deleted ones included).
    virtual bool IsValid() const;

    FAT1216_SLOT_RESERVED_LAYOUT(AAA_LAYOUT_MEMBER)
    FAT1216_SLOT_CLUSTER_LAYOUT(AAA_LAYOUT_MEMBER)
};

// The valid slots of one directory in disk order, kept as their disk bytes.
// NumberOfEntries is the read limit before a read and the count stored after it.
class Directory1216 : public AAA::Block {
public:
    Directory1216();
    Directory1216(const Directory1216&) = delete;
    virtual ~Directory1216() = default;
    void Link() override;

    // Reads slots from the reader's position; returns the bytes up to and
    // including the last valid slot.
    uint64_t ReadEntries(AAA::BitReader& reader);

    AAA::Field::LE NumberOfEntries{32, "NumberOfEntries"}; // not on disk
    FatCommon::StoredSlots<DirectoryEntry1216> entries{this};
    size_t readPosition = 0; // the walk's place in `entries`

public:
    // Sub-directories stop unless their first slots are "." and "..".
    virtual bool StopsAt(uint32_t slotIndex, const DirectoryEntry1216& slot) const;
};

class SubDirectory1216 : public Directory1216 {
protected:
    bool StopsAt(uint32_t slotIndex, const DirectoryEntry1216& slot) const override;
};

// Reads `record` at byte `offset` of `stream` (every record type above).
using AAA::ReadRecordAt;
// Reads a (sub-)directory at `offset`; returns its size in bytes.
using FatCommon::ReadDirectoryAt;

} // namespace FSAccessLib::FAT1216
