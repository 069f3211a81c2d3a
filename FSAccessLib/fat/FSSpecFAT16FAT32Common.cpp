#include "FSSpecFAT16FAT32Common.h"

#include <algorithm>
#include <string>

#include "AAA_WideString.h"

namespace FSAccessLib::FatCommon {

bool BeginsFatFolder(const FSAccessBase& reader, const uint8_t* bytes, size_t size, uint64_t offset,
                     ClusterHalves halves) {
    if (size < 2 * kFatSlotBytes || reader.clusterSize == 0 || offset < reader.startOfDataArea)
        return false;
    const auto isFolderSlot = [](const FatSlotValues& slot, const char* name) {
        return std::equal(name, name + slot.shortName.size(), slot.shortName.begin()) &&
               (slot.attributes & 0x10) != 0 && slot.attributes <= 0x3F;
    };
    const FatSlotValues dot = DecodeFatSlot({bytes, kFatSlotBytes}, halves);
    const FatSlotValues dotDot = DecodeFatSlot({bytes + kFatSlotBytes, kFatSlotBytes}, halves);
    if (!isFolderSlot(dot, ".          ") || !isFolderSlot(dotDot, "..         "))
        return false;
    return reader.ClusterToOffset(dot.firstCluster) == offset;
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
