#include "FSSpecFAT32.h"

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "FSSpecFAT16FAT32Common.h"

namespace FSAccessLib::FAT32 {
namespace {

constexpr uint32_t kEndOfChainFirst = 0x0FFFFFF8;
constexpr uint32_t kEndOfChainLast = 0x0FFFFFFF;

uint32_t TableEntry(const void* table, uint32_t cluster) {
    return static_cast<const FileAllocationTable*>(table)->Entry.Value(cluster);
}

bool IsEndOfChain(const void*, uint32_t value) {
    return kEndOfChainFirst <= value && value <= kEndOfChainLast;
}

} // namespace

FSAccessFAT32::FSAccessFAT32(const AAA::WString& path) : FSAccessBase(path) {}

bool FSAccessFAT32::Open() {
    if (!ReadBootSector(bootSector))
        return false;
    ComputeGeometry();
    ApplyGeometry();
    LogOpenedGeometry();
    return true;
}

void FSAccessFAT32::ComputeGeometry() {
    sectorSize = bootSector.SectorSize.Value();
    clusterSize = sectorSize * bootSector.SectorsPerCluster.Value();
    searchStep = sectorSize;
    fatSize = bootSector.SectorsPerFAT32.Value() * sectorSize;
    totalBytes = uint64_t{bootSector.TotalSectors2.Value()} * sectorSize;
    startOfFsInfo = sectorSize;
    startOfFat = uint64_t{bootSector.ReservedSectorCount.Value()} * sectorSize;
    startOfDataArea = uint64_t{bootSector.NumberOfFATs.Value()} * fatSize + startOfFat;
    // RootCluster as read: 0 or 1 wraps to an offset far beyond any device.
    startOfRootDir = uint64_t{bootSector.RootCluster.Value() - 2u} * clusterSize + startOfDataArea;
    directoryEntrySize = static_cast<uint32_t>(DirectoryEntry32().BitLength() / 8);
}

void FSAccessFAT32::LogOpenedGeometry() const {
    LogGeometryHead();
    AAA::DebugLog(7, "    startOfFSInfo   = 0x%08X\n", startOfFsInfo);
    LogGeometryTail();
}

void FSAccessFAT32::ReadAllocationTable() {
    ReadRecordAt(*stream, startOfFsInfo, fsInfo);
    fsInfo.Check();

    // No table is sized from the boot sector before the source is known to
    // hold it (message 110 otherwise). The rest of the volume may be missing:
    // an image that ends early is read as far as it goes.
    // The claimed table size in full: fatSize keeps only 32 bits of it.
    const uint64_t claimedFatBytes = uint64_t{bootSector.SectorsPerFAT32.Value()} * sectorSize;
    FatCommon::RequireOnDevice(startOfFat + 2 * claimedFatBytes, imageBytes, kSourceFile, __LINE__);

    stream->Seek(static_cast<int64_t>(startOfFat), AAA::SeekBegin);
    clusterLimit = bootSector.TotalSectors2.Value() / bootSector.SectorsPerCluster.Value();
    fat.NumberOfEntries.SetValue(fatSize >> 2);

    FileAllocationTableCheck check;
    AAA::BitReader checkReader(*stream);
    check.Read(checkReader);
    // Both top flags of entry 1 set: the first copy was left clean.
    const bool firstCopyClean = (check.EntryArray1.Value() & 0xC0000000u) == 0xC0000000u;
    const uint64_t copyOffset = firstCopyClean ? startOfFat : startOfFat + fatSize;

    AAA::LogThresholdCeiling quiet(6);
    ReadRecordAt(*stream, copyOffset, fat);
}

void FSAccessFAT32::ReadRootDirectory() {
    rootDirectory.NumberOfEntries.SetValue(FatCommon::kDirectorySlotLimit);
    // The root is a chain like any folder; one the table says nothing about
    // is read as one run from RootCluster.
    const ClusterChain chain =
        FollowClusterChain(*this, TableView(), bootSector.RootCluster.Value(), FatCommon::kDirectoryByteLimit);
    if (chain.brokenAtFirstStep) {
        AAA::DebugLog(7, "\troot folder: read as one run from its first cluster\n");
        FatCommon::ReadDirectoryRun(*this, startOfRootDir, FatCommon::kDirectorySlotLimit, u"(root)", rootDirectory);
        return;
    }
    AAA::DebugLog(7, "\troot folder: read along its chain, %d runs\n", static_cast<int>(chain.runs.size()));
    FatCommon::ReadDirectoryFromBytes(ReadFolderRuns(*this, chain.runs, u"(root)"), rootDirectory);
}

std::unique_ptr<SubDirectory32> FSAccessFAT32::ReadSubDirectory(uint64_t offset, uint64_t& size,
                                                                const AAA::WString& name) {
    auto directory = std::make_unique<SubDirectory32>();
    size = FatCommon::ReadDirectoryRun(*this, offset, FatCommon::kDirectorySlotLimit, name, *directory);
    return directory;
}

int FSAccessFAT32::BuildTree(DirEntry& root) {
    FatCommon::WalkGuard guard;
    guard.Enter(startOfRootDir, false);
    foldersRead.insert(startOfRootDir);
    const int count = FatCommon::WalkDirectory(*this, rootDirectory, root, guard);
    root.Relink(nullptr);
    return count;
}

int FSAccessFAT32::AddFoundDirectory(DirEntry& root, uint64_t offset, uint64_t& directorySize) {
    return FatCommon::AddFoundDirectory(*this, root, offset, directorySize);
}

ChainView FSAccessFAT32::TableView() {
    return {&fat, &TableEntry, &IsEndOfChain, fat.Entry.size(), clusterLimit};
}

const ClusterUsage& FSAccessFAT32::LiveClusters() {
    if (!liveClusters_)
        liveClusters_ = FatCommon::UsageFromTable(TableView());
    return *liveClusters_;
}

void FSAccessFAT32::BuildDataChain(DirEntry& entry) {
    BuildFileChain(*this, TableView(), entry, FatCommon::kDirectoryByteLimit, RunMeetingLimit::LeftOut);
}

bool FSAccessFAT32::BeginsFolder(const uint8_t* bytes, size_t size, uint64_t offset) const {
    return FatCommon::BeginsFatFolder(*this, bytes, size, offset, ClusterHalves::HighAndLow);
}

uint32_t FSAccessFAT32::FirstCluster(AAA::Block& record) {
    auto& entry = static_cast<DirectoryEntry32&>(record);
    return FirstClusterOf(entry.StartingClusterNumberHigh.Value(), entry.StartingClusterNumberLow.Value());
}

} // namespace FSAccessLib::FAT32
