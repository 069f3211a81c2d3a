#pragma once
// What the FAT12/16 and FAT32 readers do alike: allocation chains to extents,
// the recursive directory walk with its guards, found directories, and the
// checks that a volume's claims fit the device before anything is sized.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_Stream.h"
#include "ChainWalk.h"
#include "ClusterRuns.h"
#include "ClusterUsage.h"
#include "FatDirectorySlots.h"
#include "Commands.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace FSAccessLib::FatCommon {

// A FAT directory holds at most 65536 slots of 32 bytes.
constexpr uint32_t kDirectorySlotLimit = 0x10000;
constexpr uint64_t kDirectoryByteLimit = uint64_t{kDirectorySlotLimit} * 32;
// A FAT path has at most 260 characters, so no real tree nests deeper than ~130
// folders; damaged cards can describe endless nesting.
constexpr int kMaxDirectoryDepth = 512;

using ChainTable = ChainView;

// A folder's first cluster: a "." slot naming this very cluster, then a ".."
// slot, both folders, decoded as the slot records read them.
bool BeginsFatFolder(const FSAccessBase& reader, const uint8_t* bytes, size_t size, uint64_t offset,
                     ClusterHalves halves);

// Clusters whose table entry is not 0 (free).
ClusterUsage UsageFromTable(const ChainTable& table);

// Directories already walked, and the current depth. A directory offset is
// walked at most once through a live entry and once through a deleted one, so
// a folder that names an ancestor cannot recurse, and a deleted folder whose
// cluster a live one reused still shows what it holds now.
class WalkGuard {
public:
    bool Enter(uint64_t offset, bool deleted);
    void Leave() { --depth_; }

private:
    std::set<std::pair<uint64_t, bool>> visited_;
    int depth_ = 0;
};

// Throws UnexpectedEofException (logged with file and line) when `end`, a byte
// offset the volume claims to have, lies beyond the device.
void RequireOnDevice(uint64_t end, uint64_t deviceBytes, const char* file, int line);

// The entries of a directory record that the walk keeps: every valid slot
// except unnamed ones, dot entries and extents beyond the volume (a folder
// there is counted as past the end).
template <class Reader, class Directory>
std::vector<DirEntry> WalkableEntries(Reader& reader, Directory& directory) {
    std::vector<DirEntry> entries;
    for (size_t i = 0; i < directory.entries.Count(); ++i) {
        if constexpr (requires { directory.readPosition; })
            directory.readPosition = i;
        DirEntry entry = DirEntryFromShortEntry(reader, directory.entries.At(i));
        if (entry.name.empty() || IsDotName(entry.name))
            continue;
        if (entry.start + entry.length > reader.totalBytes) {
            if (entry.isDirectory)
                reader.NoteFolderPastEnd(entry.name, entry.start, FSAccessBase::FolderPart::NoneRead);
            continue;
        }
        entries.push_back(std::move(entry));
    }
    if constexpr (requires { directory.readPosition; })
        directory.readPosition = directory.entries.Count();
    return entries;
}

template <class Reader>
int WalkEntries(Reader& reader, std::vector<DirEntry> entries, DirEntry& parent, WalkGuard& guard);

// A directory record read as one run of up to `slotLimit` slots from
// `offset`, never past the end of the volume or the image (see
// FSAccessBase::ReadFolderRun); returns its size in bytes.
template <class Reader, class Directory>
uint64_t ReadDirectoryRun(Reader& reader, uint64_t offset, uint32_t slotLimit, const AAA::WString& name,
                          Directory& directory) {
    directory.entries.Clear();
    directory.NumberOfEntries.SetValue(0);
    uint64_t size = 0;
    reader.ReadFolderRun(offset, slotLimit, name, [&](uint32_t slots) {
        directory.NumberOfEntries.SetValue(slots);
        size = ReadDirectoryAt(*reader.stream, offset, directory);
    });
    return size;
}

// A live folder is read along its chain; a deleted one (its chain was freed),
// or one whose chain says nothing from its first step, as one run from its start.
template <class Reader>
std::unique_ptr<typename Reader::SubDirectoryRecord> ReadFolder(Reader& reader, const DirEntry& folder, uint64_t& size) {
    if (!folder.deleted) {
        const ClusterChain chain = FollowClusterChain(reader, reader.TableView(), folder.firstCluster, kDirectoryByteLimit);
        if (!chain.brokenAtFirstStep) {
            AAA::DebugLog(7, "\tfolder %s: read along its chain, %d runs\n", folder.name, static_cast<int>(chain.runs.size()));
            auto directory = std::make_unique<typename Reader::SubDirectoryRecord>();
            size = ReadDirectoryFromBytes(ReadFolderRuns(reader, chain.runs, folder.name), *directory);
            return directory;
        }
    }
    AAA::DebugLog(7, "\tfolder %s: read as one run from its first cluster\n", folder.name);
    return reader.ReadSubDirectory(folder.start, size, folder.name);
}

// Descends into a folder. Its records are turned into tree entries and freed
// before going deeper: a slot record costs kilobytes, a tree entry far less,
// so deep trees of full directories stay bounded by what is found.
template <class Reader>
int WalkSubDirectory(Reader& reader, DirEntry& folder, WalkGuard& guard) {
    if (!guard.Enter(folder.start, folder.deleted))
        return 0;
    reader.foldersRead.insert(folder.start);
    std::vector<DirEntry> entries;
    {
        uint64_t size = 0;
        auto subDirectory = ReadFolder(reader, folder, size);
        entries = WalkableEntries(reader, *subDirectory);
    }
    const int count = WalkEntries(reader, std::move(entries), folder, guard);
    guard.Leave();
    return count;
}

// Live entries get their chain; folders are descended into; everything is
// appended under `parent`. Returns the files added.
template <class Reader>
int WalkEntries(Reader& reader, std::vector<DirEntry> entries, DirEntry& parent, WalkGuard& guard) {
    int count = 0;
    for (DirEntry& entry : entries) {
        if (!entry.deleted)
            reader.BuildDataChain(entry);
        else if (!entry.isDirectory)
            ReadAroundUsedClusters(reader, reader.LiveClusters(), entry);
        if (entry.isDirectory)
            count += WalkSubDirectory(reader, entry, guard);
        const bool isFile = !entry.isDirectory;
        parent.children.push_back(std::move(entry));
        if (isFile)
            ++count;
    }
    return count;
}

// The walk of a directory record (and, recursively, its folders) under `parent`.
template <class Reader, class Directory>
int WalkDirectory(Reader& reader, Directory& directory, DirEntry& parent, WalkGuard& guard) {
    return WalkEntries(reader, WalkableEntries(reader, directory), parent, guard);
}

// A directory found at a raw offset: its entries that the tree does not hold
// yet go under a new folder "<sector>.dir" below the root.
template <class Reader>
int AddFoundDirectory(Reader& reader, DirEntry& root, uint64_t offset, uint64_t& directorySize) {
    directorySize = 0;
    if (reader.foldersRead.count(offset) != 0)
        return 0;
    auto found = reader.ReadSubDirectory(offset, directorySize, reader.FoundFolderName(offset));
    if (directorySize == 0)
        return 0;
    reader.foldersRead.insert(offset);
    DirEntry folder;
    WalkGuard guard;
    guard.Enter(offset, false);
    int count = 0;
    for (size_t i = 0; i < found->entries.Count(); ++i) {
        DirEntry entry = DirEntryFromShortEntry(reader, found->entries.At(i));
        entry.carved = true;
        if (entry.name.empty() || IsDotName(entry.name))
            continue;
        if (entry.start + entry.length > reader.totalBytes)
            continue;
        if (!entry.isDirectory && (entry.start == 0 || entry.length == 0))
            continue;
        CommandSearchExistingEntry search(&entry);
        root.Apply(search);
        if (search.found)
            continue;
        if (entry.isDirectory)
            count += WalkSubDirectory(reader, entry, guard);
        const bool isFile = !entry.isDirectory;
        folder.children.push_back(std::move(entry));
        if (isFile)
            ++count;
    }
    if (count > 0)
        reader.AppendFoundFolder(root, std::move(folder), offset, directorySize);
    return count;
}

} // namespace FSAccessLib::FatCommon
