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

    AAA::Field::LE EntryType{8, "EntryType"};
    AAA::Field::BE CustomDefined{152, "CustomDefined"};
    AAA::Field::LE FirstCluster{32, "FirstCluster"};
    AAA::Field::LE DataLength{64, "DataLength"};
    AAA::Field::LE SecondaryCount{8, "SecondaryCount"};
    AAA::Field::LE SetChecksum{0, "SetChecksum"};
    AAA::Field::LE GeneralPrimaryFlags{16, "GeneralPrimaryFlags"};
    AAA::Field::LE GeneralSecondaryFlags{8, "GeneralSecondaryFlags"};
    AAA::Field::LE CharacterCount{0, "CharacterCount"};
    AAA::Field::Utf16 VolumeLabel{0, "VolumeLabel"};
    AAA::Field::BE Reserved{0, "Reserved"};
    AAA::Field::LE FileAttributes{0, "FileAttributes"};
    AAA::Field::BE Reserved1{0, "Reserved1"};
    AAA::Field::LE CreateTimestamp{0, "CreateTimestamp"};
    AAA::Field::LE LastModifiedTimestamp{0, "LastModifiedTimestamp"};
    AAA::Field::LE LastAccessedTimestamp{0, "LastAccessedTimestamp"};
    AAA::Field::LE Create10msIncrement{0, "Create10msIncrement"};
    AAA::Field::LE LastModified10msIncrement{0, "LastModified10msIncrement"};
    AAA::Field::LE CreateUtcOffset{0, "CreateUtcOffset"};
    AAA::Field::LE LastModifiedUtcOffset{0, "LastModifiedUtcOffset"};
    AAA::Field::LE LastAccessedUtcOffset{0, "LastAccessedUtcOffset"};
    AAA::Field::BE Reserved2{0, "Reserved2"};
    AAA::Field::LE NameLength{0, "NameLength"};
    AAA::Field::LE NameHash{0, "NameHash"};
    AAA::Field::LE ValidDataLength{0, "ValidDataLength"};
    AAA::Field::BE Reserved3{0, "Reserved3"};
    AAA::Field::Utf16 FileName{0, "FileName"};

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
