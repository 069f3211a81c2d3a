#include "FSSpecFAT16FAT32Common.h"

#include <algorithm>
#include <string>

#include "AAA_WideString.h"
#include "ExtentFit.h"

namespace FSAccessLib::FatCommon {
namespace {

// The runs of a chain, kept only as far as the entry can use them: a file
// needs its length, a folder at most the largest directory FAT allows.
class RunCollector {
public:
    RunCollector(const FSAccessBase& reader, DirEntry& entry)
        : reader_(reader), entry_(entry),
          keepLimit_(entry.length != 0 ? entry.length : kDirectoryByteLimit) {}

    void Add(uint32_t first, uint32_t last) {
        const uint64_t bytes = (uint64_t{last} - first + 1) * reader_.clusterSize;
        chainBytes_ += bytes;
        if (keptBytes_ >= keepLimit_)
            return;
        entry_.chain.emplace_back(reader_.ClusterToOffset(first), bytes, &entry_);
        keptBytes_ += bytes;
    }
    uint64_t ChainBytes() const { return chainBytes_; }
    uint64_t KeptBytes() const { return keptBytes_; }

private:
    const FSAccessBase& reader_;
    DirEntry& entry_;
    uint64_t keepLimit_;
    uint64_t chainBytes_ = 0; // every run walked, kept or not
    uint64_t keptBytes_ = 0;
};

// A chain shorter than its file is taken as continuing contiguously after
// its last run; a longer one loses its surplus from the end.
void FitChainTo(std::vector<DataBlock>& chain, int64_t target, uint64_t keptBytes) {
    FitExtentsTo(chain, target > 0 ? static_cast<uint64_t>(target) : 0, keptBytes);
}

} // namespace

void BuildChain(const FSAccessBase& reader, const ChainTable& table, DirEntry& entry) {
    RunCollector runs(reader, entry);
    // Every walk that visits more clusters than the table holds has looped.
    const uint64_t maxSteps = std::min<uint64_t>(table.entryCount, table.clusterLimit);
    uint32_t c = entry.firstCluster;
    uint32_t runStart = c;
    uint64_t steps = 0;
    bool broken = false;
    while (2 <= c && c < table.clusterLimit) {
        if (table.isEndOfChain(table.table, c))
            break; // a FAT12 table whose limit lies above its end-of-chain values
        if (c >= table.entryCount || steps >= maxSteps) {
            broken = true;
            if (runStart < c)
                runs.Add(runStart, c - 1); // clusters reached so far still belong to the file
            break;
        }
        const uint32_t next = table.entryAt(table.table, c);
        if (next != c + 1) {
            runs.Add(runStart, c);
            runStart = next;
        }
        c = next;
        ++steps;
    }
    if (broken || !table.isEndOfChain(table.table, c))
        entry.chainBroken = true;
    if (entry.chain.empty() || entry.length == 0)
        return;
    // The walked clusters that no run holds (a walk cut at the cluster limit)
    // shorten the file's share, as the chain's length is counted in steps.
    const int64_t unheld = static_cast<int64_t>(steps * reader.clusterSize) - static_cast<int64_t>(runs.ChainBytes());
    FitChainTo(entry.chain, static_cast<int64_t>(entry.length) - std::max<int64_t>(unheld, 0), runs.KeptBytes());
}

bool BeginsFatFolder(const FSAccessBase& reader, const uint8_t* bytes, size_t size, uint64_t offset, bool highWord) {
    if (size < 64 || reader.clusterSize == 0 || offset < reader.startOfDataArea)
        return false;
    const auto isFolderSlot = [&](const uint8_t* slot, const char* name) {
        return std::equal(name, name + 11, slot) && (slot[11] & 0x10) != 0 && slot[11] <= 0x3F;
    };
    if (!isFolderSlot(bytes, ".          ") || !isFolderSlot(bytes + 32, "..         "))
        return false;
    const uint32_t own = static_cast<uint32_t>(bytes[26] | bytes[27] << 8) |
                         (highWord ? static_cast<uint32_t>(bytes[20] | bytes[21] << 8) << 16 : 0);
    return reader.ClusterToOffset(own) == offset;
}

ClusterUsage UsageFromTable(const ChainTable& table) {
    const auto limit = static_cast<uint32_t>(std::min<uint64_t>(table.entryCount, table.clusterLimit));
    ClusterUsage usage(limit);
    for (uint32_t c = 2; c < limit; ++c)
        if (table.entryAt(table.table, c) != 0)
            usage.MarkUsed(c);
    return usage;
}

bool WalkGuard::Enter(uint64_t offset, bool deleted) {
    if (depth_ >= kMaxDirectoryDepth)
        return false;
    if (!visited_.emplace(offset, deleted).second)
        return false;
    ++depth_;
    return true;
}

void RequireOnDevice(uint64_t end, uint64_t deviceBytes, const char* file, int line) {
    if (end > deviceBytes)
        AAA::ThrowLogged<AAA::UnexpectedEofException>(file, line, "AAA::UnexpectedEofException()");
}


} // namespace FSAccessLib::FatCommon
