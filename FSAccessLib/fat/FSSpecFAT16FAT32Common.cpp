#include "FSSpecFAT16FAT32Common.h"

#include <algorithm>
#include <string>

#include "AAA_WideString.h"

namespace FSAccessLib::FatCommon {

bool BeginsFatFolder(const FSAccessBase& reader, const uint8_t* bytes, size_t size, uint64_t offset, bool highWord) {
    if (size < 64 || reader.clusterSize == 0 || offset < reader.startOfDataArea)
        return false;
    const auto isFolderSlot = [&](const uint8_t* slot, const char* name) {
        const uint8_t attributes = slot[SlotOffset::Attributes];
        return std::equal(name, name + 11, slot + SlotOffset::Name) && (attributes & 0x10) != 0 && attributes <= 0x3F;
    };
    if (!isFolderSlot(bytes, ".          ") || !isFolderSlot(bytes + SlotOffset::Size, "..         "))
        return false;
    return reader.ClusterToOffset(SlotFirstCluster(bytes, highWord)) == offset;
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
