#include "Kalvory_Volume.h"

#include <algorithm>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_LogLines.h"
#include "AAA_SourceOpener.h"
#include "BootSectorSearch.h"
#include "FSSpecExFAT.h"
#include "FSSpecFAT16.h"
#include "FSSpecFAT32.h"
#include "RawCardReader.h"

namespace Kalvory {
namespace {

using FSAccessLib::FSAccessBase;
using AAA::WString;

// Log readers know the refusal by this place.
constexpr const char* kRefusalFile = "restorelib/Kalvory_Recover";

template <class Reader>
std::unique_ptr<FSAccessBase> TryReader(const WString& path, uint64_t offset, uint64_t bootRecord) {
    auto reader = std::make_unique<Reader>(path);
    reader->volumeOffset = offset;
    reader->bootRecordOffset = bootRecord;
    if (reader->Open())
        return reader;
    return nullptr;
}

// The readers in turn (FAT12/16, FAT32, exFAT) on the volume at `offset`.
std::unique_ptr<FSAccessBase> TryReaders(const WString& path, uint64_t offset, uint64_t bootRecord = 0) {
    std::unique_ptr<FSAccessBase> reader;
    if (bootRecord == 0)
        reader = TryReader<FSAccessLib::FAT1216::FSAccessFAT1216>(path, offset, 0);
    if (!reader)
        reader = TryReader<FSAccessLib::FAT32::FSAccessFAT32>(path, offset, bootRecord);
    if (!reader)
        reader = TryReader<FSAccessLib::ExFAT::FSAccessExFAT>(path, offset, bootRecord);
    return reader;
}

[[noreturn]] void NoVolume(const WString& detail = {}) {
    AAA::UnknownFileSystemException error;
    if (!detail.empty())
        error.AddDetail(detail);
    AAA::ThrowLogged<AAA::UnknownFileSystemException>(kRefusalFile, AAA::LogLine::kNoReaderOpened, "UnknownFileSystemException()", error);
}

std::unique_ptr<FSAccessBase> ChosenPartition(const WString& path, const VolumeChoice& choice, SourceLayout& layout) {
    const WString number = AAA::FromUtf8(std::to_string(choice.partition));
    for (const FSAccessLib::Partition& partition : layout.table.partitions) {
        if (partition.number != choice.partition)
            continue;
        std::unique_ptr<FSAccessBase> reader = TryReaders(path, partition.offset);
        if (!reader)
            NoVolume(path + u": partition " + number + u" holds no FAT12, FAT16, FAT32 or exFAT volume");
        layout.found = VolumeFound::Partition;
        layout.partition = partition.number;
        return reader;
    }
    NoVolume(path + u": there is no partition " + number + u" on it");
}

std::unique_ptr<FSAccessBase> FirstPartition(const WString& path, SourceLayout& layout) {
    for (const FSAccessLib::Partition& partition : layout.table.partitions) {
        if (std::unique_ptr<FSAccessBase> reader = TryReaders(path, partition.offset)) {
            layout.found = VolumeFound::Partition;
            layout.partition = partition.number;
            return reader;
        }
    }
    return nullptr;
}

std::unique_ptr<FSAccessBase> VolumeByBootSector(const WString& path, Restore::ProgressFileStream& card,
                                                 SourceLayout& layout) {
    for (const FSAccessLib::BootCandidate& found : FSAccessLib::FindBootSectors(card, layout.cardBytes)) {
        if (found.volumeOffset == 0 && found.bootRecordOffset == 0)
            continue; // tried as the bare volume already
        if (std::unique_ptr<FSAccessBase> reader = TryReaders(path, found.volumeOffset, found.bootRecordOffset)) {
            AAA::DebugLog(6, "a volume boot sector was found at 0x%016I64X\n", found.volumeOffset + found.bootRecordOffset);
            layout.found = VolumeFound::BootSector;
            return reader;
        }
    }
    return nullptr;
}

// Partitions other than the one read that a reader accepts.
void NoteOtherVolumes(const WString& path, uint64_t readOffset, SourceLayout& layout) {
    for (const FSAccessLib::Partition& partition : layout.table.partitions) {
        if (partition.offset == readOffset || partition.offset >= layout.cardBytes || !TryReaders(path, partition.offset))
            continue;
        const uint64_t length = std::min(partition.length, layout.cardBytes - partition.offset);
        layout.otherVolumes.push_back({partition.offset, length});
    }
}

} // namespace

std::unique_ptr<FSAccessBase> OpenVolume(const WString& path, const VolumeChoice& choice, SourceLayout& layout) {
    std::unique_ptr<FSAccessBase> reader;
    {
        std::unique_ptr<Restore::ProgressFileStream> card = Restore::OpenSource(path);
        layout.cardBytes = static_cast<uint64_t>(std::max<int64_t>(card->Length(), 0));
        layout.table = FSAccessLib::ReadPartitionTable(*card, layout.cardBytes);
        for (const std::string& problem : layout.table.problems)
            AAA::DebugLog(3, "partition table: %S\n", problem.c_str());
        if (choice.partition != 0)
            reader = ChosenPartition(path, choice, layout);
        if (!reader && (reader = TryReaders(path, 0))) {
            layout.found = VolumeFound::Bare;
            layout.table = {}; // what looked like a table is the volume's own boot sector
        }
        if (!reader)
            reader = FirstPartition(path, layout);
        if (!reader)
            reader = VolumeByBootSector(path, *card, layout);
    }
    if (!reader && choice.raw == RawScan::WholeCard) {
        reader = std::make_unique<FSAccessLib::RawCardReader>(path);
        if (reader->Open()) {
            AAA::DebugLog(6, "no volume was found: the whole card is scanned as 512-byte sectors\n");
            layout.found = VolumeFound::WholeCardRaw;
        } else {
            reader.reset();
        }
    }
    if (!reader)
        NoVolume();
    layout.volumeOffset = reader->volumeOffset;
    if (layout.found == VolumeFound::Partition || layout.found == VolumeFound::BootSector)
        NoteOtherVolumes(path, layout.volumeOffset, layout);
    return reader;
}

} // namespace Kalvory
