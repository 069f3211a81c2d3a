#include "FSAccessBase.h"

#include <algorithm>
#include <string>

#include "AAA_DebugLog.h"
#include "AAA_Progress.h"
#include "AAA_SourceOpener.h"
#include "Commands.h"

namespace FSAccessLib {

FSAccessBase::FSAccessBase(AAA::WString device) : devicePath(std::move(device)) {}

FSAccessBase::~FSAccessBase() = default;

uint64_t FSAccessBase::ClusterToOffset(uint32_t cluster) const {
    if (cluster < 2)
        return 0;
    return static_cast<uint64_t>(cluster - 2) * clusterSize + startOfDataArea;
}

int FSAccessBase::FatTypeByClusterCount() const {
    // A zero cluster size (an unread geometry) counts as no clusters at all.
    const uint32_t count =
        clusterSize == 0 ? 0 : static_cast<uint32_t>((totalBytes - startOfDataArea) / clusterSize);
    if (count < 4085)
        return 1;
    if (count == 4085)
        return 0;
    if (count < 65525)
        return 2;
    return 3;
}

void FSAccessBase::LogGeometryHead() const {
    AAA::DebugLog(7, "    sectorSize      = %d\n", sectorSize);
    AAA::DebugLog(7, "    clusterSize     = %d\n", clusterSize);
    AAA::DebugLog(7, "    fatSize         = %d\n", fatSize);
    AAA::DebugLog(7, "    totalBytes      = %I64d\n", totalBytes);
}

void FSAccessBase::LogGeometryTail() const {
    AAA::DebugLog(7, "    startofFAT      = 0x%016I64X\n", startOfFat);
    AAA::DebugLog(7, "    startofDataArea = 0x%016I64X\n", startOfDataArea);
    AAA::DebugLog(7, "    startofRootDir  = 0x%016I64X\n", startOfRootDir);
}

void FSAccessBase::LogGeometry() const {
    LogGeometryHead();
    LogGeometryTail();
}

AAA::WString FSAccessBase::FoundFolderName(uint64_t offset) const {
    const uint64_t sector = sectorSize != 0 ? offset / sectorSize : 0;
    return AAA::FromUtf8(std::to_string(sector) + ".dir");
}

void FSAccessBase::AppendFoundFolder(DirEntry& root, DirEntry folder, uint64_t offset, uint64_t size) const {
    folder.name = FoundFolderName(offset);
    folder.start = offset;
    folder.length = size;
    folder.isDirectory = true;
    folder.carved = true;
    MarkFromFoundFolder(folder);
    root.children.push_back(std::move(folder));
    root.Relink(nullptr);
}

bool FSAccessBase::BeginsFolder(const uint8_t*, size_t, uint64_t) const { return false; }

void FSAccessBase::OpenSourceStream() {
    stream = Restore::OpenSource(devicePath);
    if (volumeOffset != 0)
        stream->SetOrigin(volumeOffset);
}

void FSAccessBase::ApplyGeometry() {
    if (stream && sectorSize != 0)
        stream->blockSize = sectorSize;
    if (stream)
        imageBytes = static_cast<uint64_t>(std::max<int64_t>(stream->Length(), 0));
    if (imageBytes < totalBytes)
        AAA::DebugLog(6, "the source ends at %I64d bytes, before the end of its volume (%I64d bytes)\n", imageBytes,
                      totalBytes);
    fatType = FatTypeByClusterCount();
    Restore::SetProgressTotal(totalBytes);
}

void FSAccessBase::NoteFolderPastEnd(const AAA::WString& name, uint64_t offset, FolderPart read) {
    ++foldersPastEnd;
    if (read == FolderPart::ReadUpToEnd)
        AAA::DebugLog(6, "folder %s at 0x%016I64X runs past the end of the source; read up to it\n", name, offset);
    else
        AAA::DebugLog(6, "folder %s at 0x%016I64X lies past the end of the source; not read\n", name, offset);
}

DirEntry DirEntryFromShortEntry(FSAccessBase& reader, DirectoryEntryBase& record) {
    DirEntry entry(record.ShortName(), record.ShortExtension());
    entry.isDirectory = (record.Attributes.Value() & 0x10) == 0x10;
    entry.firstCluster = reader.FirstCluster(record);
    entry.start = reader.ClusterToOffset(entry.firstCluster);
    entry.length = record.FileLength.Value();
    return entry;
}

} // namespace FSAccessLib
