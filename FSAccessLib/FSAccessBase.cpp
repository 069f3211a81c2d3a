#include "FSAccessBase.h"

#include <algorithm>

#include "AAA_DebugLog.h"
#include "AAA_Progress.h"
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

bool FSAccessBase::BeginsFolder(const uint8_t*, size_t, uint64_t) const { return false; }

void FSAccessBase::OpenSourceStream() {
    stream = std::make_unique<Restore::ProgressFileStream>(devicePath, AAA::OpenMode::OpenExisting,
                                                           AAA::OpenAccess::Read);
    stream->Seek(static_cast<int64_t>(volumeOffset), AAA::SeekBegin);
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

namespace {

// The data of `file` up to `end`: extents from the first one that reaches
// past it are cut or dropped (a file is written front to back, so what
// follows a missing piece is of no use), and at least one extent stays, as
// an empty chain would mean `length` bytes from `start`.
bool CutAt(DirEntry& file, uint64_t end) {
    const auto past = [end](const DataBlock& block) { return block.start > end || block.length > end - block.start; };
    if (file.chain.empty()) {
        const DataBlock run(file.start, file.length, &file);
        if (!past(run))
            return false;
        file.chain.push_back(run);
    }
    const auto first = std::find_if(file.chain.begin(), file.chain.end(), past);
    if (first == file.chain.end())
        return false;
    first->length = first->start < end ? end - first->start : 0;
    const bool keepFirst = first->length != 0 || first == file.chain.begin();
    file.chain.erase(keepFirst ? first + 1 : first, file.chain.end());
    return true;
}

} // namespace

void FSAccessBase::CutFilesAtEnd(DirEntry& folder) {
    class CommandCut : public Command {
    public:
        CommandCut(FSAccessBase& reader, uint64_t end) : reader_(reader), end_(end) {}
        void Execute(DirEntry& entry) override {
            if (entry.isDirectory || entry.partial || entry.length == 0 || !CutAt(entry, end_))
                return;
            entry.partial = true;
            ++reader_.filesPastEnd;
            AAA::DebugLog(6, "%s crosses the end of the source; kept as partial\n", entry.name);
        }

    private:
        FSAccessBase& reader_;
        uint64_t end_;
    } cut(*this, ReadableEnd());
    folder.Apply(cut);
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
