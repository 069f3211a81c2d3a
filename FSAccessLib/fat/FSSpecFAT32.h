#pragma once
// The FAT32 volume reader: strict boot-sector checks, FSInfo, one table copy in
// memory, and the walk of every directory, live and deleted, into the tree.
#include <cstdint>
#include <memory>
#include <optional>

#include "AAA_WideString.h"
#include "ClusterRuns.h"
#include "ClusterUsage.h"
#include "FSAccessBase.h"
#include "FSSpecFAT32Records.h"

namespace FSAccessLib::FAT32 {

class FSAccessFAT32 : public FSAccessBase {
public:
    explicit FSAccessFAT32(const AAA::WString& devicePath);

    bool Open() override;
    void ReadAllocationTable() override;
    void ReadRootDirectory() override;
    int BuildTree(DirEntry& root) override;
    int AddFoundDirectory(DirEntry& root, uint64_t offset, uint64_t& directorySize) override;
    void BuildDataChain(DirEntry& entry) override;
    uint32_t FirstCluster(AAA::Block& record) override;
    bool BeginsFolder(const uint8_t* bytes, size_t size, uint64_t offset) const override;

    using SubDirectoryRecord = SubDirectory32;
    // A sub-directory read as one run from a byte offset of the volume, with
    // its size in bytes; `name` names it in the log.
    std::unique_ptr<SubDirectory32> ReadSubDirectory(uint64_t offset, uint64_t& size, const AAA::WString& name);
    // The loaded table as chain walks see it.
    ChainView TableView();
    // The clusters live files own (table entry not 0), worked out on first use.
    const ClusterUsage& LiveClusters();

    PartitionBootSector bootSector;
    FsInfo fsInfo;
    FileAllocationTable fat;
    uint32_t clusterLimit = 0;
    Directory32 rootDirectory;
    uint32_t startOfFsInfo = 0;

private:
    std::optional<ClusterUsage> liveClusters_;
    void ComputeGeometry();
    void LogOpenedGeometry() const;
};

} // namespace FSAccessLib::FAT32
