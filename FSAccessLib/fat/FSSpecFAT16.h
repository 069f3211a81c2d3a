#pragma once
// The FAT12/FAT16 volume reader: boot-sector checks, the FAT type from the
// cluster count, one table copy in memory, the fixed root directory and the
// walk of every directory, live and deleted, into the tree.
#include <cstdint>
#include <memory>
#include <optional>

#include "AAA_WideString.h"
#include "ClusterRuns.h"
#include "ClusterUsage.h"
#include "FSAccessBase.h"
#include "FSSpecFAT16Records.h"

namespace FSAccessLib::FAT1216 {

class FSAccessFAT1216 : public FSAccessBase {
public:
    explicit FSAccessFAT1216(const AAA::WString& devicePath);

    bool Open() override;
    void ReadAllocationTable() override;
    void ReadRootDirectory() override;
    int BuildTree(DirEntry& root) override;
    int AddFoundDirectory(DirEntry& root, uint64_t offset, uint64_t& directorySize) override;
    void BuildDataChain(DirEntry& entry) override;
    uint32_t FirstCluster(AAA::Block& record) override;
    bool BeginsFolder(const uint8_t* bytes, size_t size, uint64_t offset) const override;

    using SubDirectoryRecord = SubDirectory1216;
    // A sub-directory read as one run from a byte offset of the volume, with
    // its size in bytes; `name` names it in the log.
    std::unique_ptr<SubDirectory1216> ReadSubDirectory(uint64_t offset, uint64_t& size, const AAA::WString& name);
    // The loaded table as chain walks see it.
    ChainView TableView();
    // The clusters live files own (table entry not 0), worked out on first use.
    const ClusterUsage& LiveClusters();
    // fat12 on FAT12 volumes (fatType 1), fat16 otherwise.
    FileAllocationTable1216Base& Table();

    ExtendedFDCDescriptor bootSector;
    FileAllocationTable12 fat12;
    FileAllocationTable16 fat16;
    Directory1216 rootDirectory;

private:
    std::optional<ClusterUsage> liveClusters_;
    void ComputeGeometry();
};

} // namespace FSAccessLib::FAT1216
