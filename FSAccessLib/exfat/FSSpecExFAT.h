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
#include "ExfatBootSector.h"
#include "FSAccessBase.h"
#include "FSSpecExFATEntries.h"

namespace FSAccessLib::ExFAT {

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
