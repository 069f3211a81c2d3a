#pragma once
// exFAT directory entries and directories as records. Every class declares
// all fields any entry type uses; a class sizes and reads the fields of its
// layout (ExfatEntryRecords.h), so a field outside it answers 0 (or empty).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AAA_Field.h"
#include "ExfatEntryRecords.h"

// Every field any entry type uses, FIELD(kind, name, bytes) with the width it
// has outside a layout that sizes it.
#define EXFAT_ENTRY_FIELDS(FIELD) \
    FIELD(LE, EntryType, 1) \
    FIELD(BE, CustomDefined, 19) \
    FIELD(LE, FirstCluster, 4) \
    FIELD(LE, DataLength, 8) \
    FIELD(LE, SecondaryCount, 1) \
    FIELD(LE, SetChecksum, 0) \
    FIELD(LE, GeneralPrimaryFlags, 2) \
    FIELD(LE, GeneralSecondaryFlags, 1) \
    FIELD(LE, CharacterCount, 0) \
    FIELD(Utf16, VolumeLabel, 0) \
    FIELD(BE, Reserved, 0) \
    FIELD(LE, FileAttributes, 0) \
    FIELD(BE, Reserved1, 0) \
    FIELD(LE, CreateTimestamp, 0) \
    FIELD(LE, LastModifiedTimestamp, 0) \
    FIELD(LE, LastAccessedTimestamp, 0) \
    FIELD(LE, Create10msIncrement, 0) \
    FIELD(LE, LastModified10msIncrement, 0) \
    FIELD(LE, CreateUtcOffset, 0) \
    FIELD(LE, LastModifiedUtcOffset, 0) \
    FIELD(LE, LastAccessedUtcOffset, 0) \
    FIELD(BE, Reserved2, 0) \
    FIELD(LE, NameLength, 0) \
    FIELD(LE, NameHash, 0) \
    FIELD(LE, ValidDataLength, 0) \
    FIELD(BE, Reserved3, 0) \
    FIELD(Utf16, FileName, 0)
#define EXFAT_ENTRY_FIELD_MEMBER(kind, name, bytes) AAA_FIELD_##kind(name, bytes)
#define EXFAT_ENTRY_FIELD_ADDRESS(kind, name, bytes) &name,

namespace FSAccessLib::ExFAT {

class DirectoryEntry : public AAA::Block {
public:
    DirectoryEntry() : DirectoryEntry("GenericDirectoryEntryTemplate") {}
    DirectoryEntry(const DirectoryEntry&) = delete;
    ~DirectoryEntry() override = default;

    // Lists this class's on-disk layout; each layout class has its own.
    void Link() override;
    void Read(AAA::BitReader& reader) override;

    virtual void ReadEntryType(AAA::BitReader& reader);
    // The 31 bytes after the type byte, in this class's layout.
    virtual void ReadBody(AAA::BitReader& reader);
    virtual bool IsDotEntry() const { return false; }
    virtual bool IsDotDotEntry() const { return false; }
    // Everything but a bare 0x80 slot.
    virtual bool IsValid() const { return EntryType.Value() != kTypeUnusedInUse; }

    // The slot as it stands on disk, and back: loading sets the fields as a
    // read would, without notifications or trace lines.
    SlotBytes ToSlotBytes() const;
    void LoadSlotBytes(const SlotBytes& bytes);

    EXFAT_ENTRY_FIELDS(EXFAT_ENTRY_FIELD_MEMBER)

protected:
    explicit DirectoryEntry(std::string blockName);
    // Fields outside the layout answer 0: called by every constructor after Link().
    void ZeroOutsideLayout();

private:
    std::vector<AAA::FieldBase*> AllFields();
};

class GenericPrimaryDirectoryEntryTemplate : public DirectoryEntry {
public:
    GenericPrimaryDirectoryEntryTemplate() : GenericPrimaryDirectoryEntryTemplate("GenericDirectoryEntryTemplate") {}
    void Link() override;

protected:
    explicit GenericPrimaryDirectoryEntryTemplate(std::string blockName);
};

class GenericSecondaryDirectoryEntryTemplate : public DirectoryEntry {
public:
    GenericSecondaryDirectoryEntryTemplate()
        : GenericSecondaryDirectoryEntryTemplate("GenericDirectoryEntryTemplate") {}
    void Link() override;

protected:
    explicit GenericSecondaryDirectoryEntryTemplate(std::string blockName);
};

class AllocationBitmapDirectoryEntry : public GenericPrimaryDirectoryEntryTemplate {
public:
    AllocationBitmapDirectoryEntry() : GenericPrimaryDirectoryEntryTemplate("AllocationBitmapDirectoryEntry") {}
};

class UpCaseTableDirectoryEntry : public GenericPrimaryDirectoryEntryTemplate {
public:
    UpCaseTableDirectoryEntry() : GenericPrimaryDirectoryEntryTemplate("UpCaseTableDirectoryEntry") {}
};

class VolumeGUIDDirectoryEntry : public GenericPrimaryDirectoryEntryTemplate {
public:
    VolumeGUIDDirectoryEntry() : GenericPrimaryDirectoryEntryTemplate("VolumeGUIDDirectoryEntry") {}
};

class VolumeLabelDirectoryEntry : public GenericPrimaryDirectoryEntryTemplate {
public:
    VolumeLabelDirectoryEntry();
    void Link() override;
};

class FileDirectoryEntry : public GenericPrimaryDirectoryEntryTemplate {
public:
    FileDirectoryEntry();
    void Link() override;
};

class StreamExtensionDirectoryEntry : public GenericSecondaryDirectoryEntryTemplate {
public:
    StreamExtensionDirectoryEntry();
    void Link() override;
};

class FileNameDirectoryEntry : public GenericSecondaryDirectoryEntryTemplate {
public:
    FileNameDirectoryEntry();
    void Link() override;
};

class VendorExtensionDirectoryEntry : public GenericSecondaryDirectoryEntryTemplate {
public:
    VendorExtensionDirectoryEntry() : GenericSecondaryDirectoryEntryTemplate("VendorExtensionDirectoryEntry") {}
};

class VendorAllocationDirectoryEntry : public GenericSecondaryDirectoryEntryTemplate {
public:
    VendorAllocationDirectoryEntry() : GenericSecondaryDirectoryEntryTemplate("VendorAllocationDirectoryEntry") {}
};

// A new record of the class that reads `typeCode` (in-use bit forced on);
// codes outside the known set get the plain DirectoryEntry layout.
std::unique_ptr<DirectoryEntry> MakeDirectoryEntry(uint8_t typeCode);

// A directory read as one run of slots from its first byte, up to a 0x00 type
// byte or the read limit. Stored entries keep their 32 disk bytes (a full
// directory of 65536 slots costs 2 MiB); Entry() hands each out as a record of
// its class.
class Directory : public AAA::Block {
public:
    static constexpr uint32_t kReadLimit = 0x10000;

    Directory() : Directory("Directory") {}
    Directory(const Directory&) = delete;
    ~Directory() override;

    void Link() override;
    // Back to the read limit, so the record can be read again.
    void ResetReadLimit();
    // ReadEntries at the reader's position.
    void Read(AAA::BitReader& reader) override;
    int BitLength() const override;

    size_t StoredCount() const { return stored_.size(); }
    uint8_t StoredType(size_t index) const { return stored_[index][0]; }
    // The stored entry as a record of its class. The reference stays valid until
    // the next Entry() call that needs the same class.
    const DirectoryEntry& Entry(size_t index) const;

    // "NumberOfEntries": the read limit before reading, afterwards the slot
    // positions consumed up to and including the last stored entry.
    AAA::Field::LE NumberOfEntries{32, "NumberOfEntries"};
    // Where the tree walk stands in the stored entries.
    size_t readPosition = 0;

protected:
    explicit Directory(std::string blockName);

private:
    std::vector<SlotBytes> stored_;
    mutable std::vector<std::unique_ptr<DirectoryEntry>> classCache_;
};

class SubDirectory : public Directory {
public:
    SubDirectory() : Directory("SubDirectory") {}
};

} // namespace FSAccessLib::ExFAT
