#include "FSSpecFAT32Records.h"

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "FSSpecFAT16FAT32Common.h"
#include "FatDirectorySlots.h"
#include "AAA_Check.h"

namespace FSAccessLib::FAT32 {
namespace {

// A failed CompareValue has written its report; the record gives up.
void Require(bool passed) {
    if (!passed)
        throw AAA::InvalidDataException();
}

void ResizeTable(void* context) {
    auto* table = static_cast<FileAllocationTable*>(context);
    table->Entry.Resize(table->NumberOfEntries.Value());
}

} // namespace

// ---- ExtensionFlag ------------------------------------------------------------

// Unnamed, so its fields are reported under the boot sector's name.
ExtensionFlag::ExtensionFlag() : AAA::Block("") { Link(); }

void ExtensionFlag::Link() {
    SetMembers({&NumberOfActiveFAT, &Reserved1, &Only1FATisActive, &Reserved2});
    AAA::Block::Link();
    Raw.parent = this;
}

void ExtensionFlag::Read(AAA::BitReader& reader) {
    Raw.Read(reader);
    const uint32_t word = Raw.Value();
    NumberOfActiveFAT.SetValue(word & 0x0F);
    Reserved1.SetValue((word >> 4) & 0x07);
    Only1FATisActive.SetValue((word >> 7) & 0x01);
    Reserved2.SetValue(word >> 8);
}

// ---- PartitionBootSector --------------------------------------------------------

PartitionBootSector::PartitionBootSector() : FatBootSectorPrefix("PartitionBootSector") { Link(); }

void PartitionBootSector::Link() {
    LinkAfterPrefix({FAT32_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_ADDRESS)});
}

void PartitionBootSector::Check() const {
    Require(AAA::Check(SectorSize, "512U", kSourceFile));
    Require(AAA::Check(NumberOfFATs, "2", kSourceFile));
    Require(AAA::Check(NumberOfRootDirectoryEntries, "0ULL", kSourceFile));
    Require(AAA::Check(TotalSectors1, "0ULL", kSourceFile));
    Require(AAA::Check(SectorsPerFAT, "0ULL", kSourceFile));
    const uint32_t totalSectors2 = TotalSectors2.Value();
    const uint32_t largest = 0x0FFFFFF6u * SectorsPerCluster.Value(); // modulo 2^32, as on the card's tools
    TotalSectors2.ExpectTrue((2 <= totalSectors2) && (totalSectors2 <= largest),
                             "(2 <= TotalSectors2) && (TotalSectors2 <= (0x0FFFFFF6 * SectorsPerCluster))",
                             kSourceFile, __LINE__);
    Require(AAA::Check(FsVersion, "0ULL", kSourceFile));
    Require(AAA::Check(FsInfo, "1", kSourceFile));
    Require(AAA::Check(BackupBootSector, "6", kSourceFile));
    Require(AAA::Check(ExtendedBootRecordSignature, "0x29", kSourceFile));
    FileSystemType.Expect("FAT32   ", "FAT32   ", kSourceFile, __LINE__);
    Require(AAA::Check(SignatureWord, "0x55AA", kSourceFile));
}

// ---- FsInfo ------------------------------------------------------------------------

FsInfo::FsInfo() : AAA::Block("FsInfo") { Link(); }

void FsInfo::Link() {
    SetMembers({FAT32_FSINFO_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

void FsInfo::Check() const {
    LeadSignature.Expect("RRaA", "RRaA", kSourceFile, __LINE__);
    StructureSignature.Expect("rrAa", "rrAa", kSourceFile, __LINE__);
    static constexpr uint8_t kTrail[4] = {0x00, 0x00, 0x55, 0xAA};
    TrailSignature.Expect(kTrail, "0x000055AA", kSourceFile, __LINE__);
}

// ---- Allocation table ------------------------------------------------------------------

FileAllocationTableCheck::FileAllocationTableCheck() : AAA::Block("FileAllocationTableCheck") { Link(); }

void FileAllocationTableCheck::Link() {
    SetMembers({FAT32_TABLE_HEAD_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

FileAllocationTable::FileAllocationTable() : AAA::Block("FileAllocationTable") {
    NumberOfEntries.SetValue(0);
    NumberOfEntries.SetNotification(this, &ResizeTable);
    Link();
}

void FileAllocationTable::Link() {
    SetMembers({&Entry}); // the count is not on disk
    AAA::Block::Link();
    NumberOfEntries.parent = this;
}

// ---- Directory entries ------------------------------------------------------------------

DirectoryEntry32::DirectoryEntry32() : DirectoryEntryBase("DirectoryEntry32") { Link(); }

DirectoryEntry32::DirectoryEntry32(const DirectoryEntry32& other)
    : DirectoryEntryBase(other), ReservedForNT(other.ReservedForNT), CreatedTimeTenth(other.CreatedTimeTenth),
      CreatedTime(other.CreatedTime), CreatedDate(other.CreatedDate), LastAccessDate(other.LastAccessDate),
      StartingClusterNumberHigh(other.StartingClusterNumberHigh),
      StartingClusterNumberLow(other.StartingClusterNumberLow) {
    Link();
}

void DirectoryEntry32::Link() {
    SetMembers({FAT32_SLOT_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

bool DirectoryEntry32::IsValid() const {
    if (!(IsDotEntry() || IsDotDotEntry() || HasValidName()))
        return false;
    if (!HasValidExtension() || !HasValidAttributes())
        return false;
    if (ReservedForNT.Value() != 0)
        return false;
    return CreatedTime.IsValid() && CreatedDate.IsValid() && LastAccessDate.IsValid() && TimeRecorded.IsValid() &&
           DateRecorded.IsValid();
}

// ---- Directories ------------------------------------------------------------------------

Directory32::Directory32() : Directory32("Directory32") {}

Directory32::Directory32(const char* blockName) : AAA::Block(blockName) {
    NumberOfEntries.SetValue(FatCommon::kDirectorySlotLimit);
    Link();
}

void Directory32::Link() {
    SetMembers({}); // the slots are read by ReadEntries
    AAA::Block::Link();
    NumberOfEntries.parent = this;
}

bool Directory32::StopsAt(uint32_t, const DirectoryEntry32&) const {
    return false;
}

bool SubDirectory32::StopsAt(uint32_t slotIndex, const DirectoryEntry32& slot) const {
    return (slotIndex == 0 && !slot.IsDotEntry()) || (slotIndex == 1 && !slot.IsDotDotEntry());
}

uint64_t Directory32::ReadEntries(AAA::BitReader& reader) {
    return FatCommon::ReadValidSlots(*this, reader);
}

} // namespace FSAccessLib::FAT32
