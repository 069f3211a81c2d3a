#pragma once
// The exFAT reader (SDXC cards): boot sector, allocation table, and the walk of
// every directory, deleted entry sets included, into the tree of found entries.
// Lengths and the volume size are taken at their full 64 bits: camcorders write
// files of 4 GiB and more.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "AAA_Field.h"
#include "ClusterRuns.h"
#include "ClusterUsage.h"
#include "FSAccessBase.h"
#include "FSSpecExFATEntries.h"

namespace FSAccessLib::ExFAT {

class FileSystemRevision : public AAA::Block {
public:
    FileSystemRevision();
    void Link() override;

    AAA::Field::LE minor_revision_number{8, "minor_revision_number"};
    AAA::Field::LE major_revision_number{8, "major_revision_number"};
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

    AAA::Field::BE JumpBoot{24, "JumpBoot"};
    AAA::Field::Str FileSystemName{64, "FileSystemName"};
    AAA::Field::BE MustBeZero{424, "MustBeZero"};
    AAA::Field::LE PartitionOffset{64, "PartitionOffset"};
    AAA::Field::LE VolumeLength{64, "VolumeLength"};
    AAA::Field::LE FatOffset{32, "FatOffset"};
    AAA::Field::LE FatLength{32, "FatLength"};
    AAA::Field::LE ClusterHeapOffset{32, "ClusterHeapOffset"};
    AAA::Field::LE ClusterCount{32, "ClusterCount"};
    AAA::Field::LE FirstClusterOfRootDirectory{32, "FirstClusterOfRootDirectory"};
    AAA::Field::LE VolumeSerialNumber{32, "VolumeSerialNumber"};
    ExFAT::FileSystemRevision FileSystemRevision;
    ExFAT::VolumeFlags VolumeFlags;
    AAA::Field::LE BytesPerSectorShift{8, "BytesPerSectorShift"};
    AAA::Field::LE SectorsPerClusterShift{8, "SectorsPerClusterShift"};
    AAA::Field::LE NumberOfFats{8, "NumberOfFats"};
    AAA::Field::LE DriveSelect{8, "DriveSelect"};
    AAA::Field::LE PercentInUse{8, "PercentInUse"};
    AAA::Field::BE Reserved{56, "Reserved"};
    AAA::Field::BE BootCode{3120, "BootCode"};
    AAA::Field::BE BootSignature{16, "BootSignature"};

private:
    void CheckSignatures() const;
};

// The active copy of the allocation table: entry n holds the successor of
// cluster n, 0xFFFFFFFF ends a chain. Packed: 4 bytes per entry in memory.
class FileAllocationTable : public AAA::Block {
public:
    FileAllocationTable();
    FileAllocationTable(const FileAllocationTable&) = delete;
    void Link() override;

    AAA::Field::LE NumberOfEntries{32, "NumberOfEntries"}; // not on disk; resizes the array
    AAA::Array<AAA::Field::LE> Entry{32, "Entry"};

private:
    static void Resize(void* self);
};

// Smallest and largest exFAT sectors (512 B .. 4 KiB) and clusters (up to 32 MiB).
constexpr uint32_t kMinBytesPerSectorShift = 9;
constexpr uint32_t kMaxBytesPerSectorShift = 12;
constexpr uint32_t kMaxClusterShift = 25;
constexpr uint32_t kEndOfChain = 0xFFFFFFFF;
// Directories nested deeper are kept as empty folders: each level holds its
// directory's slots (up to 2 MiB) while the levels below it are walked.
constexpr int kMaxDirectoryDepth = 128;

class FSAccessExFAT : public FSAccessBase {
public:
    explicit FSAccessExFAT(const AAA::WString& devicePath);
    ~FSAccessExFAT() override;

    bool Open() override;
    void ReadAllocationTable() override;
    void ReadRootDirectory() override;
    int BuildTree(DirEntry& root) override;
    // A folder found at a raw offset: its entry sets not yet in the tree go
    // under a new folder "<sector>.dir" below the root; returns the files added.
    int AddFoundDirectory(DirEntry& root, uint64_t offset, uint64_t& directorySize) override;
    void BuildDataChain(DirEntry& entry) override;
    // Not supported for exFAT: raises MakerModelException (113).
    uint32_t FirstCluster(AAA::Block& record) override;
    // A whole entry set first: File, Stream Extension and File Name entries,
    // its SetChecksum right.
    bool BeginsFolder(const uint8_t* bytes, size_t size, uint64_t offset) const override;

    // The entry set at `directory`'s read position as a tree entry (unnamed,
    // and so left out, unless it is a File entry with its Stream Extension).
    // `inUse` receives the set's in-use bit, which the entry does not carry.
    DirEntry EntrySetToDirEntry(Directory& directory, bool* inUse = nullptr);
    // The loaded table as chain walks see it.
    ChainView TableView() const;
    // The clusters the allocation bitmap marks as used, read on first use;
    // unknown (nothing used) when the bitmap is missing or damaged.
    const ClusterUsage& LiveClusters();

    BootSector bootSector;
    FileAllocationTable fat;
    uint32_t clusterLimit = 0; // ClusterCount + 2
    Directory rootDirectory;

private:
    void DeriveGeometry();
    // FatLength x sector size, at full width.
    uint64_t TableBytes() const;
    // Refuses tables and heaps that do not fit the volume or the device (109 / 110).
    void CheckTablePlacement(uint64_t activeCopyStart) const;
    // Up to `slotLimit` slots read as one run from `offset`, never past the
    // end of the volume or the image; `name` names the folder in the log.
    void ReadDirectoryAt(uint64_t offset, Directory& directory, const AAA::WString& name,
                         uint32_t slotLimit = Directory::kReadLimit);
    void ReadDirectoryFromBytes(std::vector<uint8_t> bytes, Directory& directory);
    // In-use folders follow their chain, never past DataLength; NoFatChain and
    // deleted folders are one run of DataLength bytes.
    void ReadFolder(const DirEntry& folder, bool inUse, Directory& directory);
    ClusterUsage ReadAllocationBitmap();
    // The found folder's entry sets turned into entries, those the tree holds left out.
    int AddFoundEntries(DirEntry& root, Directory& found, DirEntry& folder);
    int Walk(Directory& directory, DirEntry& parent, int depth);
    // A sub-directory is read only when it lies in the heap, is not an
    // ancestor or earlier directory, and the tree is not too deep.
    bool ShouldDescend(const DirEntry& entry, int depth);

    std::unordered_set<uint64_t> walkedDirectories_; // start offsets read during this walk
    std::optional<ClusterUsage> liveClusters_;
};

} // namespace FSAccessLib::ExFAT
