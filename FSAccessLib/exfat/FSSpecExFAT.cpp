#include "FSSpecExFAT.h"

#include <algorithm>
#include <limits>
#include <span>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "Commands.h"
#include "AAA_Check.h"
#include "AAA_LogLines.h"

namespace FSAccessLib::ExFAT {
namespace {

// Check reports name this file and line; log readers match the boot-sector
// checks by their line numbers, so CheckSignatures stays where it is.
constexpr const char* kSourceFile = "FSAccessLib/FSSpecExFAT";

constexpr uint64_t kMaxTableBytes = std::numeric_limits<uint32_t>::max(); // fatSize is 32-bit

void SetInitialZero(AAA::FieldBase& field) {
    const std::vector<uint8_t> zeros(field.Data().size(), 0);
    field.AssignRead(zeros.data(), zeros.size(), -1);
}

} // namespace

// ---- FileSystemRevision, VolumeFlags --------------------------------------------------

FileSystemRevision::FileSystemRevision() : AAA::Block("FileSystemRevision") { Link(); }

void FileSystemRevision::Link() {
    SetMembers({EXFAT_REVISION_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

VolumeFlags::VolumeFlags() : AAA::Block("VolumeFlags") { Link(); }

void VolumeFlags::Link() {
    SetMembers({&ActiveFat, &VolumeDirty, &MediaFailure, &ClearToZero, &Reserved});
    AAA::Block::Link();
    Raw.parent = this;
}

void VolumeFlags::Read(AAA::BitReader& reader) {
    Raw.Read(reader);
    const uint32_t word = Raw.Value();
    ActiveFat.SetValue(word & 1);
    VolumeDirty.SetValue((word >> 1) & 1);
    MediaFailure.SetValue((word >> 2) & 1);
    ClearToZero.SetValue((word >> 3) & 1);
    Reserved.SetValue(word >> 4);
}

// ---- FileAllocationTable -------------------------------------------------------------------

FileAllocationTable::FileAllocationTable() : AAA::Block("FileAllocationTable") {
    Link();
    NumberOfEntries.SetNotification(this, &FileAllocationTable::Resize);
    SetInitialZero(NumberOfEntries);
}

void FileAllocationTable::Link() {
    SetMembers({&Entry}); // NumberOfEntries is not on disk
    AAA::Block::Link();
    NumberOfEntries.parent = this;
}

void FileAllocationTable::Resize(void* self) {
    auto* table = static_cast<FileAllocationTable*>(self);
    table->Entry.Resize(table->NumberOfEntries.Value());
}

// ---- BootSector ---------------------------------------------------------------------------------

BootSector::BootSector() : AAA::Block("BootSector") { Link(); }

void BootSector::Link() {
    SetMembers({EXFAT_BOOT_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

void BootSector::Read(AAA::BitReader& reader) {
    AAA::Block::Read(reader);
    CheckSignatures();
    CheckShifts();
}

// The shifts are taken as exponents: outside exFAT's ranges they would shift
// beyond the width of the geometry fields.
void BootSector::CheckShifts() const {
    const uint32_t sectorShift = BytesPerSectorShift.Value();
    BytesPerSectorShift.ExpectTrue(kMinBytesPerSectorShift <= sectorShift && sectorShift <= kMaxBytesPerSectorShift,
                                   "(9 <= BytesPerSectorShift) && (BytesPerSectorShift <= 12)", kSourceFile, __LINE__);
    SectorsPerClusterShift.ExpectTrue(SectorsPerClusterShift.Value() <= kMaxClusterShift - sectorShift,
                                      "BytesPerSectorShift + SectorsPerClusterShift <= 25", kSourceFile, __LINE__);
    VolumeLength.ExpectTrue(VolumeLength.Value64() <= (std::numeric_limits<uint64_t>::max() >> sectorShift),
                            "VolumeLength << BytesPerSectorShift < 2^64", kSourceFile, __LINE__);
}

FSAccessExFAT::FSAccessExFAT(const AAA::WString& devicePath) : FSAccessBase(devicePath) {}

FSAccessExFAT::~FSAccessExFAT() = default;

bool FSAccessExFAT::Open() {
    if (!ReadBootSector(bootSector))
        return false;
    DeriveGeometry();
    ApplyGeometry();
    fatType = 4;
    LogGeometry();
    return true;
}

void FSAccessExFAT::DeriveGeometry() {
    const uint32_t sectorShift = bootSector.BytesPerSectorShift.Value();
    sectorSize = 1u << sectorShift;
    clusterSize = sectorSize << bootSector.SectorsPerClusterShift.Value();
    searchStep = sectorSize;
    // A table beyond 4 GiB does not fit fatSize; ReadAllocationTable refuses it.
    fatSize = static_cast<uint32_t>(std::min<uint64_t>(TableBytes(), kMaxTableBytes));
    totalBytes = bootSector.VolumeLength.Value64() << sectorShift;
    startOfFat = static_cast<uint64_t>(bootSector.FatOffset.Value()) * sectorSize;
    startOfDataArea = static_cast<uint64_t>(bootSector.ClusterHeapOffset.Value()) * sectorSize;
    // Wraps for a root cluster below 2; ReadRootDirectory refuses those.
    startOfRootDir =
        (static_cast<uint64_t>(bootSector.FirstClusterOfRootDirectory.Value()) - 2) * clusterSize + startOfDataArea;
    directoryEntrySize = static_cast<uint32_t>(DirectoryEntry().BitLength() / 8);
}

// The five identity checks, in this order; the first failure is reported and
// raises 109. Reports name the lines the checks have always been known by.
void BootSector::CheckSignatures() const {
    using namespace AAA::LogLine;
    FileSystemName.Expect("EXFAT   ", "\"EXFAT   \"", kSourceFile, kExFatFileSystemName);
    if (!AAA::Check(MustBeZero, "0ULL", {kSourceFile, kExFatMustBeZero}) ||
        !AAA::Check(FileSystemRevision.major_revision_number, "0x01", {kSourceFile, kExFatMajorRevision}))
        throw AAA::InvalidDataException();
    if (!AAA::Check(Reserved, "0ULL", {kSourceFile, kExFatReserved}) ||
        !AAA::Check(BootSignature, "0x55AA", {kSourceFile, kExFatBootSignature}))
        throw AAA::InvalidDataException();
}

uint64_t FSAccessExFAT::TableBytes() const {
    return static_cast<uint64_t>(bootSector.FatLength.Value()) * sectorSize;
}

// ---- Allocation table -----------------------------------------------------------------------

void FSAccessExFAT::ReadAllocationTable() {
    const bool secondCopy = bootSector.NumberOfFats.Value() == 2 && bootSector.VolumeFlags.ActiveFat.Value() == 1;
    const uint64_t activeCopyStart = secondCopy ? startOfFat + fatSize : startOfFat;
    // Before anything is allocated: a hostile FatLength must not size the table.
    CheckTablePlacement(activeCopyStart);
    clusterLimit = bootSector.ClusterCount.Value() + 2;
    fat.NumberOfEntries.SetValue(fatSize >> 2);
    stream->Seek(static_cast<int64_t>(activeCopyStart), AAA::SeekBegin);
    AAA::LogThresholdCeiling quiet(6);
    AAA::BitReader reader(*stream);
    fat.Read(reader);
}

void FSAccessExFAT::CheckTablePlacement(uint64_t activeCopyStart) const {
    const uint64_t tableBytes = TableBytes();
    const uint64_t clusters = bootSector.ClusterCount.Value();
    bootSector.FatLength.ExpectTrue(tableBytes <= kMaxTableBytes, "FatLength * sectorSize < 4 GiB", kSourceFile,
                                    __LINE__);
    bootSector.ClusterCount.ExpectTrue((clusters + 2) * 4 <= tableBytes, "(ClusterCount + 2) * 4 <= FatLength * sectorSize",
                                       kSourceFile, __LINE__);
    bootSector.FatOffset.ExpectTrue(activeCopyStart + tableBytes <= startOfDataArea,
                                    "the table ends before ClusterHeapOffset", kSourceFile, __LINE__);
    bootSector.ClusterCount.ExpectTrue(clusters * clusterSize <= totalBytes - std::min(totalBytes, startOfDataArea),
                                       "ClusterHeapOffset + ClusterCount clusters <= VolumeLength", kSourceFile,
                                       __LINE__);
    const auto deviceBytes = static_cast<uint64_t>(stream->Length());
    if (activeCopyStart + tableBytes > deviceBytes) {
        AAA::DebugLog(6, "%S(%d): the allocation table (0x%016I64X + %I64d bytes) lies beyond the end of the medium (%I64d bytes)\n",
                      kSourceFile, __LINE__, activeCopyStart, tableBytes, deviceBytes);
        AAA::ThrowLogged<AAA::UnexpectedEofException>(kSourceFile, __LINE__, "UnexpectedEofException()");
    }
}

// ---- Directories ---------------------------------------------------------------------------------

void FSAccessExFAT::ReadRootDirectory() {
    const uint64_t root = bootSector.FirstClusterOfRootDirectory.Value();
    const uint64_t limit = static_cast<uint64_t>(bootSector.ClusterCount.Value()) + 2;
    bootSector.FirstClusterOfRootDirectory.ExpectTrue(
        2 <= root && root < limit, "(2 <= FirstClusterOfRootDirectory) && (FirstClusterOfRootDirectory < ClusterCount + 2)",
        kSourceFile, __LINE__);
    liveClusters_.reset();
    // The root has no length of its own: its chain, up to the slot limit.
    const ClusterChain chain =
        FollowClusterChain(*this, TableView(), static_cast<uint32_t>(root), uint64_t{Directory::kReadLimit} * 32);
    if (chain.brokenAtFirstStep) {
        AAA::DebugLog(7, "\troot folder: read as one run from its first cluster\n");
        ReadDirectoryAt(startOfRootDir, rootDirectory, u"(root)");
        return;
    }
    AAA::DebugLog(7, "\troot folder: read along its chain, %d runs\n", static_cast<int>(chain.runs.size()));
    ReadDirectoryFromBytes(ReadFolderRuns(*this, chain.runs, u"(root)"), rootDirectory);
}

void FSAccessExFAT::ReadDirectoryAt(uint64_t offset, Directory& directory, const AAA::WString& name,
                                    uint32_t slotLimit) {
    ReadDirectoryFromBytes({}, directory); // nothing stored unless read below
    ReadFolderRun(offset, std::min(slotLimit, Directory::kReadLimit), name, [&](uint32_t slots) {
        stream->Seek(static_cast<int64_t>(offset), AAA::SeekBegin);
        directory.NumberOfEntries.SetValue(slots);
        AAA::BitReader reader(*stream);
        directory.Read(reader);
    });
}

void FSAccessExFAT::ReadDirectoryFromBytes(std::vector<uint8_t> bytes, Directory& directory) {
    const auto slots = static_cast<uint32_t>(std::min<uint64_t>(bytes.size() / 32, Directory::kReadLimit));
    AAA::MemoryStream memory(std::move(bytes));
    directory.ResetReadLimit();
    directory.NumberOfEntries.SetValue(slots);
    AAA::BitReader reader(memory);
    directory.Read(reader);
}

// ---- Operations exFAT does not have ----------------------------------------------------------

int FSAccessExFAT::AddFoundDirectory(DirEntry& root, uint64_t offset, uint64_t& directorySize) {
    directorySize = 0;
    // A folder the walk read already is no find.
    if (walkedDirectories_.count(offset) != 0)
        return 0;
    SubDirectory found;
    const AAA::WString name = FoundFolderName(offset);
    ReadDirectoryAt(offset, found, name);
    directorySize = uint64_t{found.NumberOfEntries.Value()} * directoryEntrySize;
    if (directorySize == 0)
        return 0;
    walkedDirectories_.insert(offset);
    DirEntry folder;
    const int count = AddFoundEntries(root, found, folder);
    if (count > 0)
        AppendFoundFolder(root, std::move(folder), offset, directorySize);
    return count;
}

int FSAccessExFAT::AddFoundEntries(DirEntry& root, Directory& found, DirEntry& folder) {
    int count = 0;
    while (found.readPosition < found.StoredCount()) {
        bool inUse = true;
        DirEntry entry = EntrySetToDirEntry(found, &inUse);
        entry.carved = true;
        entry.unallocated = !inUse;
        if (entry.name.empty() || IsDotName(entry.name))
            continue;
        if (entry.length > totalBytes || entry.start > totalBytes - entry.length)
            continue;
        if (!entry.isDirectory && (entry.start == 0 || entry.length == 0))
            continue;
        FSAccessLib::CommandSearchExistingEntry known(&entry);
        root.Apply(known);
        if (known.found != nullptr)
            continue;
        if (entry.isDirectory && ShouldDescend(entry, 1)) {
            SubDirectory subDirectory;
            ReadFolder(entry, inUse, subDirectory);
            count += Walk(subDirectory, entry, 1);
        }
        const bool isFile = !entry.isDirectory;
        folder.children.push_back(std::move(entry));
        if (isFile)
            ++count;
    }
    return count;
}

bool FSAccessExFAT::BeginsFolder(const uint8_t* bytes, size_t size, uint64_t) const {
    const std::span<const uint8_t> run(bytes, size);
    if (size < 3 * kEntryBytes)
        return false;
    const FileEntryValues file = DecodeFileEntry(run.first(kEntryBytes));
    const StreamExtensionValues stream = DecodeStreamExtension(run.subspan(kEntryBytes, kEntryBytes));
    if (LiveType(file.entryType) != kTypeFile || LiveType(stream.entryType) != kTypeStreamExtension)
        return false;
    const size_t secondaries = file.secondaryCount;
    const size_t nameEntries = (stream.nameLength + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
    if (secondaries < 2 || nameEntries == 0 || 1 + nameEntries > secondaries || (secondaries + 1) * kEntryBytes > size)
        return false;
    for (size_t n = 0; n < nameEntries; ++n)
        if (LiveType(EntryTypeOf(run.subspan((2 + n) * kEntryBytes, kEntryBytes))) != kTypeFileName)
            return false;
    return EntrySetChecksum(run.first((secondaries + 1) * kEntryBytes)) == file.setChecksum;
}

uint32_t FSAccessExFAT::FirstCluster(AAA::Block&) {
    AAA::DebugLog(7, "unused function\n");
    throw AAA::MakerModelException();
}

} // namespace FSAccessLib::ExFAT
