// The exFAT walk: entry sets to tree entries, directories into the tree, and
// allocation chains into extents.
#include <algorithm>

#include "AAA_DebugLog.h"
#include "ChainWalk.h"
#include "FSSpecExFAT.h"

namespace FSAccessLib::ExFAT {

// ---- Entry sets ----------------------------------------------------------------------------------

DirEntry FSAccessExFAT::EntrySetToDirEntry(Directory& directory, bool* inUseOut) {
    DirEntry entry; // unnamed, so left out unless a whole set names it
    const size_t end = directory.StoredCount();
    if (directory.readPosition >= end)
        return entry;

    const DirectoryEntry& primary = directory.Entry(directory.readPosition++);
    const auto primaryType = static_cast<uint8_t>(primary.EntryType.Value());
    const uint32_t secondaryCount = primary.SecondaryCount.Value();
    const uint32_t attributes = primary.FileAttributes.Value();
    if ((primaryType | kInUseBit) != kTypeFile || secondaryCount < 2) {
        directory.readPosition = std::min<size_t>(end, directory.readPosition + secondaryCount);
        return entry;
    }
    // A set cut off by the end of the directory keeps what is there.
    if (directory.readPosition >= end)
        return entry;

    // Taken as the Stream Extension whatever its type: a damaged set still gives
    // what its fields hold (a wrong class holds 0 where its layout has nothing).
    const DirectoryEntry& stream = directory.Entry(directory.readPosition++);
    const size_t nameLength = stream.NameLength.Value();
    entry.firstCluster = stream.FirstCluster.Value();
    entry.length = stream.DataLength.Value64();
    entry.noFatChain = (stream.GeneralSecondaryFlags.Value() & kFlagNoFatChain) == kFlagNoFatChain;

    for (size_t n = 0; n < nameLength && directory.readPosition < end; n += kNameUnitsPerEntry)
        entry.name += directory.Entry(directory.readPosition++).FileName.ToWideString();
    if (entry.name.size() > nameLength)
        entry.name.resize(nameLength);

    entry.isDirectory = (attributes & kAttributeDirectory) == kAttributeDirectory;
    entry.start = ClusterToOffset(entry.firstCluster);
    // The in-use bit shows only here: a deleted set yields the same entry as a live one.
    const bool inUse = (primaryType & kInUseBit) != 0;
    if (inUseOut != nullptr)
        *inUseOut = inUse;
    AAA::DebugLog(7, "\texFAT: %08x ", entry.firstCluster);
    AAA::DebugLog(7, entry.noFatChain ? "NoFatChain " : "           ");
    AAA::DebugLog(7, inUse ? "        " : "deleted ");
    AAA::DebugLog(7, "%s\n", entry.name);
    return entry;
}

// ---- The walk ----------------------------------------------------------------------------------------

int FSAccessExFAT::BuildTree(DirEntry& root) {
    walkedDirectories_.clear();
    walkedDirectories_.insert(startOfRootDir);
    rootDirectory.readPosition = 0;
    const int count = Walk(rootDirectory, root, 0);
    root.Relink(nullptr);
    return count;
}

int FSAccessExFAT::Walk(Directory& directory, DirEntry& parent, int depth) {
    int count = 0;
    while (directory.readPosition < directory.StoredCount()) {
        bool inUse = true;
        DirEntry entry = EntrySetToDirEntry(directory, &inUse);
        if (entry.name.empty() || IsDotName(entry.name))
            continue;
        if (!entry.deleted)
            BuildDataChain(entry);
        entry.unallocated = !inUse;
        if (!inUse && !entry.isDirectory)
            ReadAroundUsedClusters(*this, LiveClusters(), entry);
        if (entry.isDirectory && ShouldDescend(entry, depth)) {
            SubDirectory subDirectory;
            ReadFolder(entry, inUse, subDirectory);
            count += Walk(subDirectory, entry, depth + 1);
        }
        const bool isFile = !entry.isDirectory;
        parent.children.push_back(std::move(entry));
        if (isFile)
            ++count;
    }
    return count;
}

bool FSAccessExFAT::ShouldDescend(const DirEntry& entry, int depth) {
    // Slots outside the heap would be the boot region or beyond the volume.
    const uint64_t heapLimit = static_cast<uint64_t>(bootSector.ClusterCount.Value()) + 2;
    if (entry.firstCluster >= heapLimit) {
        NoteFolderPastEnd(entry.name, entry.start, FolderPart::NoneRead);
        return false;
    }
    if (entry.firstCluster < 2) {
        AAA::DebugLog(6, "\texFAT: directory %s starts outside the cluster heap (cluster %08x); not read\n",
                      entry.name, entry.firstCluster);
        return false;
    }
    if (depth >= kMaxDirectoryDepth) {
        AAA::DebugLog(6, "\texFAT: directory %s lies deeper than %d levels; not read\n", entry.name,
                      kMaxDirectoryDepth);
        return false;
    }
    // A directory met again (an ancestor, or one named by two entries) is read once.
    if (!walkedDirectories_.insert(entry.start).second) {
        AAA::DebugLog(6, "\texFAT: directory %s at 0x%016I64X was read already; not read again\n", entry.name,
                      entry.start);
        return false;
    }
    return true;
}

// ---- Folders and the allocation bitmap -------------------------------------------------------

void FSAccessExFAT::ReadFolder(const DirEntry& folder, bool inUse, Directory& directory) {
    const uint64_t maxBytes = std::min<uint64_t>(folder.length, uint64_t{Directory::kReadLimit} * 32);
    if (inUse && !folder.noFatChain) {
        const ClusterChain chain = FollowClusterChain(*this, TableView(), folder.firstCluster, maxBytes);
        if (!chain.brokenAtFirstStep) {
            AAA::DebugLog(7, "\tfolder %s: read along its chain, %d runs\n", folder.name,
                          static_cast<int>(chain.runs.size()));
            ReadDirectoryFromBytes(ReadFolderRuns(*this, chain.runs, folder.name), directory);
            return;
        }
    }
    AAA::DebugLog(7, "\tfolder %s: read as one run from its first cluster\n", folder.name);
    ReadDirectoryAt(folder.start, directory, folder.name, static_cast<uint32_t>(maxBytes / 32));
}

ChainView FSAccessExFAT::TableView() const {
    return {&fat, [](const void* table, uint32_t cluster) {
                return static_cast<const FileAllocationTable*>(table)->Entry.Value(cluster);
            },
            [](const void*, uint32_t value) { return value == kEndOfChain; }, fat.Entry.size(), clusterLimit};
}

const ClusterUsage& FSAccessExFAT::LiveClusters() {
    if (!liveClusters_)
        liveClusters_ = ReadAllocationBitmap();
    return *liveClusters_;
}

// Bit n of the bitmap stands for cluster n + 2.
ClusterUsage FSAccessExFAT::ReadAllocationBitmap() {
    const uint64_t clusters = bootSector.ClusterCount.Value();
    for (size_t i = 0; i < rootDirectory.StoredCount(); ++i) {
        if (rootDirectory.StoredType(i) != kTypeAllocationBitmap)
            continue;
        const DirectoryEntry& entry = rootDirectory.Entry(i);
        const uint32_t first = entry.FirstCluster.Value();
        const uint64_t bytes = (clusters + 7) / 8;
        if (entry.DataLength.Value64() < bytes || first < 2 || first >= clusterLimit)
            break;
        ClusterChain chain = FollowClusterChain(*this, TableView(), first, bytes);
        if (chain.brokenAtFirstStep)
            chain.runs = {{ClusterToOffset(first), bytes}};
        const std::vector<uint8_t> bitmap = ReadRuns(*stream, chain.runs);
        if (bitmap.size() < bytes)
            break;
        ClusterUsage usage(clusterLimit);
        for (uint64_t n = 0; n < clusters; ++n)
            if (bitmap[n / 8] != 0 && (bitmap[n / 8] >> (n % 8) & 1) != 0)
                usage.MarkUsed(static_cast<uint32_t>(n + 2));
        return usage;
    }
    AAA::DebugLog(7, "\texFAT: no usable allocation bitmap; deleted files are read as one run\n");
    return ClusterUsage();
}

// ---- Chains ------------------------------------------------------------------------------------------------

void FSAccessExFAT::BuildDataChain(DirEntry& entry) {
    if (entry.noFatChain)
        return; // one run of `length` bytes from `start`
    BuildFileChain(*this, TableView(), entry, UINT64_MAX, RunMeetingLimit::Kept);
}

} // namespace FSAccessLib::ExFAT
