#include "Commands.h"

#include <cstdint>

#include "AAA_CopyHelpers.h"
#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "SafeHostPath.h"

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

namespace {

constexpr const char* kSourceFile = "FSAccessLib/Commands";

// start + length beyond the medium; a sum that wraps past 2^64 is beyond it too.
bool OutOfMedia(uint64_t start, uint64_t length, uint64_t mediaSize) {
    return length > mediaSize || start > mediaSize - length;
}

void LogCopyLine(const char* verb, const DirEntry& entry, const AAA::WString& shownPath) {
    AAA::DebugLog(7, verb);
    AAA::DebugLog(7, "Start=0x%016I64X, Size=0x%08I64X, File=", entry.start, entry.length);
    AAA::DebugLog(7, "%s\n", shownPath);
}

} // namespace

void CommandCopyToDst::Execute(DirEntry& entry) {
    // The log shows the tree path; files go to the sanitised host path.
    const AAA::WString shownPath = destination + entry.FullPath();
    if (!entry.target) {
        LogCopyLine("SKIP...\t", entry, shownPath);
        return;
    }
    LogCopyLine("COPYING\t", entry, shownPath);
    const AAA::WString hostPath = planner_.Assign(entry);
    if (entry.isDirectory) {
        AAA::MakeDirectoryIfMissing(hostPath);
        return;
    }
    if (source == nullptr)
        AAA::ThrowLogged<AAA::ArgumentException>(kSourceFile, __LINE__, "AAA::ArgumentException()");
    if (!entry.chain.empty()) {
        CopyChain(entry, hostPath);
        return;
    }
    if (OutOfMedia(entry.start, entry.length, mediaSize)) {
        AAA::DebugLog(7, "\t->Out of media range.\n");
        return;
    }
    AAA::CopyExtentToNewFile(*source, entry.start, entry.length, hostPath);
}

void CommandCopyToDst::CopyChain(const DirEntry& entry, const AAA::WString& hostPath) {
    if (AAA::PathExists(hostPath))
        return;
    try {
        Restore::ProgressFileStream output(hostPath, AAA::OpenMode::Create, AAA::OpenAccess::Write);
        for (const DataBlock& block : entry.chain) {
            if (OutOfMedia(block.start, block.length, mediaSize)) {
                AAA::DebugLog(7, "\t->Out of media range.\n");
                continue;
            }
            AAA::CopyExtent(*source, block.start, block.length, output);
        }
        if (entry.holdTail)
            AppendHeldTail(entry.chain.back(), output);
    } catch (const AAA::CancellationException&) {
        AAA::DebugLog(7, "\nCANCELED\n");
        AAA::DeleteFileForced(hostPath);
        throw;
    }
}

void CommandCopyToDst::AppendHeldTail(const DataBlock& last, AAA::Stream& output) {
    const uint64_t end = last.start + last.length;
    if (end < last.start || end < 2 || end - 2 > static_cast<uint64_t>(INT64_MAX))
        return; // no two bytes end at a reachable offset
    source->Seek(static_cast<int64_t>(end - 2), AAA::SeekBegin);
    uint8_t tail[2] = {};
    if (source->Read(tail, 2) != 2)
        return;
    for (int i = 0; i < 4; ++i)
        output.Write(tail, 2);
    AAA::DebugLog(7, "\tADD %d bytes hold\n", 2);
}

} // namespace FSAccessLib
