#include "Commands.h"

#include <cstdint>

#include "AAA_DebugLog.h"

namespace FSAccessLib {

void CommandDisplayTarget::Execute(DirEntry& entry) {
    if (!entry.target && !displayAll)
        return;
    AAA::DebugLog(7, "Start=0x%016I64X, Size=0x%08I64X, ", entry.start, entry.length);
    AAA::DebugLog(7, "%s", entry.FullPath());
    AAA::DebugLog(7, ",\tChain=");
    for (const DataBlock& block : entry.chain)
        AAA::DebugLog(7, "0x%I64X(0x%I64X) ", block.start, block.length);
    AAA::DebugLog(7, "\n");
}

void CommandSearchExistingEntry::Execute(DirEntry& entry) {
    if (entry.name == probe->name && entry.start == probe->start && entry.length == probe->length)
        found = &entry;
}

void CommandSearchExistingDataBlock::Execute(DirEntry& entry) {
    uint64_t reach = foundEnd;
    if (entry.chain.empty()) {
        if (entry.start <= position && position < entry.start + entry.length)
            reach = entry.start + entry.length;
    } else {
        for (const DataBlock& block : entry.chain)
            if (block.start <= position && position < block.start + block.length)
                reach = block.start + block.length;
    }
    if (reach > foundEnd) {
        found = &entry;
        foundEnd = reach;
    }
}

void CommandSearchExistingAddr2::Execute(DirEntry& entry) {
    if (entry.start == address)
        matches.push_back(&entry);
}

void CommandSearchExistingName::Execute(DirEntry& entry) {
    if (entry.name == wanted)
        found = &entry;
}

void CommandSearchExistingNamePart::Execute(DirEntry& entry) {
    if (entry.name.find(wanted) != AAA::WString::npos)
        found = &entry;
}

void CommandSlectAll::Execute(DirEntry& entry) {
    entry.target = true;
    if (!entry.isDirectory)
        ++count;
}

void CommandCountTarget::Execute(DirEntry& entry) {
    if (entry.target)
        ++count;
}

void CommandTotalFileLength::Execute(DirEntry& entry) {
    if (entry.target && !entry.isDirectory)
        total += entry.length;
}

} // namespace FSAccessLib
