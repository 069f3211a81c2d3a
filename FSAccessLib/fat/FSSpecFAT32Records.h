#pragma once
// FAT32 on-disk records: boot sector, FSInfo, the allocation table and the
// 32-byte directory entries with their directories. Every record reads from
// any AAA::Stream (a memory stream in tests and fuzzers, the card otherwise).
#include <cstdint>

#include "AAA_Field.h"
#include "AAA_Stream.h"
#include "DirectoryEntryBase.h"
#include "FatBootSector.h"
#include "FatDirectorySlots.h"

namespace FSAccessLib::FAT32 {

// Source file named by the check reports of this reader.
inline constexpr const char* kSourceFile = "FSAccessLib/FSSpecFAT32";

// Boot-sector offset 40: which table copy is active (read, logged, unused).
class ExtensionFlag : public AAA::Block {
public:
    ExtensionFlag();
    void Link() override;
    // The word is little-endian; its bit fields are taken from the value.
    void Read(AAA::BitReader& reader) override;

    AAA::Field::LE Raw{16, "ExtensionFlag"};
    AAA::Field::BE NumberOfActiveFAT{4, "NumberOfActiveFAT"};
    AAA::Field::BE Reserved1{3, "Reserved1"};
    AAA::Field::BE Only1FATisActive{1, "Only1FATisActive"};
    AAA::Field::BE Reserved2{8, "Reserved2"};
};

// The FAT32 part after the shared prefix, by byte offset.
namespace BootOffset32 {
FAT32_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_OFFSET)
} // namespace BootOffset32

// The flag word is a block; the row's width is its 16 bits.
#define AAA_FIELD_ExtensionFlag(name, bytes) ExtensionFlag name;

class PartitionBootSector : public FatBootSectorPrefix {
public:
    PartitionBootSector();
    void Link() override;
    // The boot-sector checks in order; the first failure is reported to the
    // log and raises InvalidDataException (109).
    void Check() const;

    FAT32_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_MEMBER)
};

class FsInfo : public AAA::Block {
public:
    FsInfo();
    void Link() override;
    // Lead, structure and trail signatures in order; InvalidDataException (109).
    void Check() const;

    FAT32_FSINFO_LAYOUT(AAA_LAYOUT_MEMBER)
};

// Entries 0 and 1 of the first table copy; entry 1 tells which copy to load.
#define FAT32_TABLE_HEAD_LAYOUT(ROW) ROW(LE, EntryArray0, 0, 4) ROW(LE, EntryArray1, 4, 4)
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT32_TABLE_HEAD_LAYOUT), 0, 8));

class FileAllocationTableCheck : public AAA::Block {
public:
    FileAllocationTableCheck();
    void Link() override;

    FAT32_TABLE_HEAD_LAYOUT(AAA_LAYOUT_MEMBER)
};

// One table copy: entry n is the raw 32-bit value for cluster n (the reserved
// top bits are kept). Setting NumberOfEntries resizes the packed array.
class FileAllocationTable : public AAA::Block {
public:
    FileAllocationTable();
    FileAllocationTable(const FileAllocationTable&) = delete;
    void Link() override;
    size_t MemoryBytes() const { return Entry.MemoryBytes(); }

    AAA::Field::LE NumberOfEntries{32, "NumberOfEntries"}; // not on disk
    AAA::Array<AAA::Field::LE> Entry{32, "Entry"};
};

class DirectoryEntry32 : public DirectoryEntryBase {
public:
    DirectoryEntry32();
    DirectoryEntry32(const DirectoryEntry32& other);
    void Link() override;
    // A plausible short-name slot (deleted ones included).
    virtual bool IsValid() const;

    FAT32_SLOT_CREATED_LAYOUT(AAA_LAYOUT_MEMBER)
    FAT32_SLOT_CLUSTER_LAYOUT(AAA_LAYOUT_MEMBER)
};

// The valid slots of one directory in disk order, kept as their disk bytes.
// NumberOfEntries is the read limit before a read and the count stored after it.
class Directory32 : public AAA::Block {
public:
    Directory32();
    explicit Directory32(const char* blockName);
    Directory32(const Directory32&) = delete;
    virtual ~Directory32() = default;
    void Link() override;

    // Reads slots from the reader's position; returns the bytes up to and
    // including the last valid slot.
    uint64_t ReadEntries(AAA::BitReader& reader);

    AAA::Field::LE NumberOfEntries{32, "NumberOfEntries"}; // not on disk
    FatCommon::StoredSlots<DirectoryEntry32> entries{this};

public:
    // Sub-directories stop unless their first slots are "." and "..".
    virtual bool StopsAt(uint32_t slotIndex, const DirectoryEntry32& slot) const;
};

class SubDirectory32 : public Directory32 {
protected:
    bool StopsAt(uint32_t slotIndex, const DirectoryEntry32& slot) const override;
};

// Reads `record` at byte `offset` of `stream` (every record type above).
using AAA::ReadRecordAt;
// Reads a (sub-)directory at `offset`; returns its size in bytes.
using FatCommon::ReadDirectoryAt;

} // namespace FSAccessLib::FAT32
