#pragma once
// The abstract volume reader: opens the card, keeps its geometry and builds the
// tree of found entries. FAT12/16, FAT32 and exFAT each implement it.
#include <cstdint>
#include <limits>
#include <memory>
#include <unordered_set>

#include "AAA_Exceptions.h"
#include "AAA_Field.h"
#include "AAA_FileStream.h"
#include "AAA_WideString.h"
#include "DirEntry.h"
#include "DirectoryEntryBase.h"

namespace FSAccessLib {

class FSAccessBase {
public:
    explicit FSAccessBase(AAA::WString device);
    virtual ~FSAccessBase();
    FSAccessBase(const FSAccessBase&) = delete;
    FSAccessBase& operator=(const FSAccessBase&) = delete;

    // Opens `stream`, checks the boot sector and fills the geometry; false when
    // the volume is not of this file system (InvalidDataException while checking).
    virtual bool Open() = 0;
    virtual void ReadAllocationTable() = 0;
    virtual void ReadRootDirectory() = 0;
    // Appends the directory contents under `root`, relinks it; returns the
    // number of non-directory entries added.
    virtual int BuildTree(DirEntry& root) = 0;
    // Reads a directory at a raw byte offset; returns the number of files added.
    virtual int AddFoundDirectory(DirEntry& root, uint64_t offset, uint64_t& directorySize) = 0;
    virtual void BuildDataChain(DirEntry& entry) = 0;
    // The first cluster stored in a directory record (a DirectoryEntryBase for FAT).
    virtual uint32_t FirstCluster(AAA::Block& record) = 0;
    // Whether `size` bytes at `offset`, a cluster's start, look like the first
    // cluster of a folder of this file system, for the sector search to read it.
    virtual bool BeginsFolder(const uint8_t* bytes, size_t size, uint64_t offset) const;

    // "<sector>.dir", the name of a folder found at a raw byte offset.
    AAA::WString FoundFolderName(uint64_t offset) const;
    // A folder found at a raw offset goes under the root by that name,
    // everything in it marked as read from a found folder; the root is relinked.
    void AppendFoundFolder(DirEntry& root, DirEntry folder, uint64_t offset, uint64_t size) const;

    // 0 below cluster 2; otherwise the byte offset of cluster n.
    uint64_t ClusterToOffset(uint32_t cluster) const;
    // 1 = FAT12 (< 4085 clusters), 0 = exactly 4085, 2 = FAT16, 3 = FAT32 (>= 65525).
    int FatTypeByClusterCount() const;

    // The geometry lines every FAT reader logs at level 7 after Open. FAT32 puts
    // its own line between the head (up to totalBytes) and the tail.
    void LogGeometryHead() const;
    void LogGeometryTail() const;
    void LogGeometry() const;

    int fatType = 0;
    AAA::WString devicePath;
    uint32_t sectorSize = 0;
    uint32_t clusterSize = 0;
    uint32_t fatSize = 0;
    uint64_t totalBytes = 0;
    uint32_t searchStep = 0;
    // Where the volume starts in the source (a whole card holds it in a partition).
    uint64_t volumeOffset = 0;
    // Where the boot sector is read, from the volume's start: a backup's place
    // when the primary is gone.
    uint64_t bootRecordOffset = 0;
    uint64_t startOfFat = 0;
    uint64_t startOfRootDir = 0;
    uint64_t startOfDataArea = 0;
    uint32_t rootEntryCount = 0;
    uint32_t directoryEntrySize = 0;
    std::unique_ptr<Restore::ProgressFileStream> stream;
    // Keeps the bytes read for files found by their data (null: nothing kept).
    AAA::FileCapture* capture = nullptr;
    // Start offsets of the folders the walks have read: a folder the sector
    // search meets again is no find.
    std::unordered_set<uint64_t> foldersRead;
    // What the source holds, set by Open: an image that ends early holds
    // less than totalBytes. Unknown counts as the whole volume.
    uint64_t imageBytes = std::numeric_limits<uint64_t>::max();
    // Folders past the end of the volume or the image: not read when they
    // start there, read up to it when they run past it.
    int foldersPastEnd = 0;

    // How much of a folder past the end was read.
    enum class FolderPart { NoneRead, ReadUpToEnd };
    // Where reading stops: the end of the volume, or of the image when it ends first.
    uint64_t ReadableEnd() const { return totalBytes < imageBytes ? totalBytes : imageBytes; }
    // Reads a folder of up to `slotLimit` slots as one run from `offset`
    // through `read(count)`, never past ReadableEnd(): a folder starting
    // there is not read, one running past it is read up to it; both are
    // logged and counted in foldersPastEnd. `read` leaves the stream after
    // the last slot it consumed.
    template <class ReadSlots>
    void ReadFolderRun(uint64_t offset, uint32_t slotLimit, const AAA::WString& name, ReadSlots read) {
        constexpr uint64_t kSlotBytes = 32; // FAT and exFAT alike
        const uint64_t end = ReadableEnd();
        if (offset >= end) {
            NoteFolderPastEnd(name, offset, FolderPart::NoneRead);
            return;
        }
        const uint64_t room = (end - offset) / kSlotBytes;
        const auto count = static_cast<uint32_t>(room < slotLimit ? room : slotLimit);
        read(count);
        // Every slot up to the end consumed: the folder goes on past it (or ends right there).
        if (count < slotLimit && stream->Seek(0, AAA::SeekCurrent) == static_cast<int64_t>(offset + count * kSlotBytes))
            NoteFolderPastEnd(name, offset, FolderPart::ReadUpToEnd);
    }
    // Logs and counts a folder past the end.
    void NoteFolderPastEnd(const AAA::WString& name, uint64_t offset, FolderPart read);

protected:
    // Opens `stream` read-only on devicePath; its offset 0 is the volume's
    // start, volumeOffset bytes into the source.
    void OpenSourceStream();
    // Opens the stream and reads `bootSector` at the volume's start, with its
    // Check() where it has one; false when the record says "not this file
    // system" (InvalidDataException). Every other failure passes through.
    template <class BootSector>
    bool ReadBootSector(BootSector& bootSector) {
        OpenSourceStream();
        try {
            AAA::ReadRecordAt(*stream, bootRecordOffset, bootSector);
            if constexpr (requires { bootSector.Check(); })
                bootSector.Check();
        } catch (const AAA::InvalidDataException&) {
            return false;
        }
        return true;
    }
    // After the geometry is filled: sector-sized seeks, fatType, progress total.
    void ApplyGeometry();
};

// A tree entry from a FAT short-name directory record: name, directory flag,
// first cluster, start offset and length; nothing else.
DirEntry DirEntryFromShortEntry(FSAccessBase& reader, DirectoryEntryBase& record);

} // namespace FSAccessLib
