#pragma once
// A card on which no volume was found: no tables, no folders, just 512-byte
// sectors from its first to its last, for the sector search to read.
#include "FSAccessBase.h"

namespace FSAccessLib {

class RawCardReader : public FSAccessBase {
public:
    using FSAccessBase::FSAccessBase;
    bool Open() override;
    void ReadAllocationTable() override {}
    void ReadRootDirectory() override {}
    int BuildTree(DirEntry&) override { return 0; }
    int AddFoundDirectory(DirEntry&, uint64_t, uint64_t&) override { return 0; }
    void BuildDataChain(DirEntry&) override {}
    uint32_t FirstCluster(AAA::Block&) override { return 0; }
};

} // namespace FSAccessLib
