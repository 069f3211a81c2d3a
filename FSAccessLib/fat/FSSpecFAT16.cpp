#include "FSSpecFAT16.h"

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "FSSpecFAT16FAT32Common.h"

namespace FSAccessLib::FAT1216 {
namespace {

uint32_t TableEntry(const void* table, uint32_t cluster) {
    return static_cast<const FileAllocationTable1216Base*>(table)->Entry.Value(cluster);
}

bool TableEndOfChain(const void* table, uint32_t value) {
    return static_cast<const FileAllocationTable1216Base*>(table)->IsEndOfChain(value);
}

} // namespace

FSAccessFAT1216::FSAccessFAT1216(const AAA::WString& path) : FSAccessBase(path) {}

bool FSAccessFAT1216::Open() {
    if (!ReadBootSector(bootSector))
        return false;
    ComputeGeometry();
    ApplyGeometry();
    LogGeometry();
    return true;
}

void FSAccessFAT1216::ComputeGeometry() {
    sectorSize = bootSector.SectorSize.Value();
    clusterSize = bootSector.SectorsPerCluster.Value() * sectorSize;
    searchStep = sectorSize;
    fatSize = bootSector.SectorsPerFAT.Value() * sectorSize;
    totalBytes = uint64_t{bootSector.TotalSectors()} * sectorSize;
    startOfFat = uint64_t{bootSector.ReservedSectorCount.Value()} * sectorSize;
    startOfRootDir = uint64_t{bootSector.NumberOfFATs.Value()} * fatSize + startOfFat;
    rootEntryCount = bootSector.NumberOfRootDirectoryEntries.Value();
    directoryEntrySize = static_cast<uint32_t>(DirectoryEntry1216().BitLength() / 8);
    const uint32_t rootSectors = (rootEntryCount * directoryEntrySize + sectorSize - 1) / sectorSize;
    startOfDataArea = startOfRootDir + uint64_t{sectorSize} * rootSectors;
}

FileAllocationTable1216Base& FSAccessFAT1216::Table() {
    if (fatType == 1)
        return fat12;
    return fat16;
}

void FSAccessFAT1216::ReadAllocationTable() {
    // No table is sized from the boot sector before the source is known to
    // hold it (message 110 otherwise). The rest of the volume may be missing:
    // an image that ends early is read as far as it goes.
    FatCommon::RequireOnDevice(startOfFat + 2 * uint64_t{fatSize}, imageBytes, kSourceFile, __LINE__);

    stream->Seek(static_cast<int64_t>(startOfFat), AAA::SeekBegin);
    const uint32_t clusterLimit = bootSector.TotalSectors() / bootSector.SectorsPerCluster.Value();
    AAA::LogThresholdCeiling quiet(6);
    if (fatType == 1) {
        fat12.clusterLimit = clusterLimit;
        fat12.NumberOfEntries.SetValue(FileAllocationTable12::EntriesFor(fatSize));
        ReadRecordAt(*stream, startOfFat, fat12); // FAT12 always from the first copy
        return;
    }
    fat16.clusterLimit = clusterLimit;
    fat16.NumberOfEntries.SetValue(FileAllocationTable16::EntriesFor(fatSize));
    FileAllocationTable16Check check;
    ReadRecordAt(*stream, startOfFat, check);
    // Both top flags of entry 1 set: the first copy was left clean and error-free.
    const bool firstCopyClean = (check.EntryArray1.Value() & 0xC000u) == 0xC000u;
    ReadRecordAt(*stream, firstCopyClean ? startOfFat : startOfFat + fatSize, fat16);
}

void FSAccessFAT1216::ReadRootDirectory() {
    AAA::LogThresholdCeiling quiet(6);
    FatCommon::ReadDirectoryRun(*this, startOfRootDir, rootEntryCount, u"(root)", rootDirectory);
}

std::unique_ptr<SubDirectory1216> FSAccessFAT1216::ReadSubDirectory(uint64_t offset, uint64_t& size,
                                                                    const AAA::WString& name) {
    auto directory = std::make_unique<SubDirectory1216>();
    size = FatCommon::ReadDirectoryRun(*this, offset, FatCommon::kDirectorySlotLimit, name, *directory);
    return directory;
}

int FSAccessFAT1216::BuildTree(DirEntry& root) {
    rootDirectory.readPosition = 0;
    FatCommon::WalkGuard guard;
    guard.Enter(startOfRootDir, false);
    foldersRead.insert(startOfRootDir);
    const int count = FatCommon::WalkDirectory(*this, rootDirectory, root, guard);
    root.Relink(nullptr);
    return count;
}

int FSAccessFAT1216::AddFoundDirectory(DirEntry& root, uint64_t offset, uint64_t& directorySize) {
    return FatCommon::AddFoundDirectory(*this, root, offset, directorySize);
}

ChainView FSAccessFAT1216::TableView() {
    FileAllocationTable1216Base& table = Table();
    return {&table, &TableEntry, &TableEndOfChain, table.Entry.size(), table.clusterLimit};
}

const ClusterUsage& FSAccessFAT1216::LiveClusters() {
    if (!liveClusters_)
        liveClusters_ = FatCommon::UsageFromTable(TableView());
    return *liveClusters_;
}

void FSAccessFAT1216::BuildDataChain(DirEntry& entry) {
    BuildFileChain(*this, TableView(), entry, FatCommon::kDirectoryByteLimit, RunMeetingLimit::LeftOut);
}

bool FSAccessFAT1216::BeginsFolder(const uint8_t* bytes, size_t size, uint64_t offset) const {
    return FatCommon::BeginsFatFolder(*this, bytes, size, offset, ClusterHalves::LowOnly);
}

uint32_t FSAccessFAT1216::FirstCluster(AAA::Block& record) {
    return static_cast<DirectoryEntry1216&>(record).StartingClusterNumber.Value();
}

} // namespace FSAccessLib::FAT1216
