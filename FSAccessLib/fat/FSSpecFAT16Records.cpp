#include "FSSpecFAT16Records.h"

#include <vector>

#include "AAA_Exceptions.h"
#include "FSSpecFAT16FAT32Common.h"
#include "FatDirectorySlots.h"
#include "AAA_Check.h"
#include "AAA_LogLines.h"

namespace FSAccessLib::FAT1216 {
namespace {

void Require(bool passed) {
    if (!passed)
        throw AAA::InvalidDataException();
}

void ResizeTable(void* context) {
    auto* table = static_cast<FileAllocationTable1216Base*>(context);
    table->Entry.Resize(table->NumberOfEntries.Value());
}

} // namespace

// ---- ExtendedFDCDescriptor ------------------------------------------------------

ExtendedFDCDescriptor::ExtendedFDCDescriptor() : FatBootSectorPrefix("ExtendedFDCDescriptor") { Link(); }

void ExtendedFDCDescriptor::Link() {
    LinkAfterPrefix({FAT1216_BOOT_EXTENSION_LAYOUT(AAA_LAYOUT_ADDRESS)});
}

uint32_t ExtendedFDCDescriptor::TotalSectors() const {
    return TotalSectors1.Value() != 0 ? TotalSectors1.Value() : TotalSectors2.Value();
}

void ExtendedFDCDescriptor::Check() const {
    Require(AAA::Check(SectorSize, "512", {kSourceFile, AAA::LogLine::kFat1216SectorSize}));
    Require(AAA::Check(NumberOfFATs, "2", {kSourceFile, AAA::LogLine::kFat1216NumberOfFats}));
    Require(AAA::Check(NumberOfRootDirectoryEntries, "512", {kSourceFile, AAA::LogLine::kFat1216RootEntries}));
    CheckTotalSectors();
    Require(AAA::Check(ExtendedBootRecordSignature, "0x29", {kSourceFile, AAA::LogLine::kFat1216BootSignature}));
    FileSystemType.ExpectTrue(FileSystemType.Equal("FAT12   ") || FileSystemType.Equal("FAT16   "),
                              "FileSystemType.Equal(\"FAT12   \") || FileSystemType.Equal(\"FAT16   \")",
                              kSourceFile, AAA::LogLine::kFat1216FileSystemType);
    Require(AAA::Check(SignatureWord, "0x55AA", {kSourceFile, AAA::LogLine::kFat1216SignatureWord}));
}

void ExtendedFDCDescriptor::CheckTotalSectors() const {
    const uint32_t sectors = TotalSectors();
    const uint32_t perCluster = SectorsPerCluster.Value();
    // Unsigned 32-bit products, as the check has always been made.
    const bool fat12 = FileSystemType.Equal("FAT12   ") && sectors <= 0x0FF6u * perCluster;
    const bool fat16 = FileSystemType.Equal("FAT16   ") && sectors <= 0xFFF6u * perCluster;
    const bool passed = (2 <= sectors) && (fat12 || fat16);
    if (TotalSectors1.Value() != 0) {
        TotalSectors1.ExpectTrue(passed,
                                 "( (2 <= TotalSectors1) && ( (FileSystemType.Equal(\"FAT12   \") && (TotalSectors1 "
                                 "<= (0x0FF6 * SectorsPerCluster))) || (FileSystemType.Equal(\"FAT16   \") && "
                                 "(TotalSectors1 <= (0xFFF6 * SectorsPerCluster))) ) )",
                                 kSourceFile, AAA::LogLine::kFat1216TotalSectors1);
    } else {
        TotalSectors2.ExpectTrue(passed,
                                 "( (2 <= TotalSectors2) && ( (FileSystemType.Equal(\"FAT12   \") && (TotalSectors2 "
                                 "<= (0x0FF6 * SectorsPerCluster))) || (FileSystemType.Equal(\"FAT16   \") && "
                                 "(TotalSectors2 <= (0xFFF6 * SectorsPerCluster))) ) )",
                                 kSourceFile, AAA::LogLine::kFat1216TotalSectors2);
    }
}

// ---- Allocation tables --------------------------------------------------------------

FileAllocationTable1216Base::FileAllocationTable1216Base(const char* blockName, int entryBits)
    : AAA::Block(blockName), Entry(entryBits, "Entry") {
    NumberOfEntries.SetValue(0);
    NumberOfEntries.SetNotification(this, &ResizeTable);
    Link();
}

void FileAllocationTable1216Base::Link() {
    SetMembers({&Entry}); // the count is not on disk
    AAA::Block::Link();
    NumberOfEntries.parent = this;
}

FileAllocationTable12::FileAllocationTable12() : FileAllocationTable1216Base("FileAllocationTable12", 12) {}

bool FileAllocationTable12::IsEndOfChain(uint32_t value) const {
    return 0xFF8 <= value && value <= 0xFFF;
}

void FileAllocationTable12::Read(AAA::BitReader& reader) {
    AAA::Block::Read(reader);
    // Read as little-endian 12-bit fields, a pair of entries (three bytes
    // b0 b1 b2) comes out scrambled; put each pair back together.
    const size_t count = Entry.size();
    for (size_t k = 0; k + 1 < count; k += 2) {
        const uint32_t a = Entry.Value(k);
        const uint32_t b = Entry.Value(k + 1);
        Entry.SetValue(k, ((b & 0x0F) << 8) | ((a & 0x0F) << 4) | (a >> 12));
        Entry.SetValue(k + 1, ((b >> 8) << 4) | ((a >> 8) & 0x0F));
    }
    if (count % 2 == 1) {
        // An unpaired last entry: its low byte was read; its high nibble is the
        // low half of the next table byte, which no field covered.
        const uint32_t a = Entry.Value(count - 1);
        const uint32_t low = ((a & 0x0F) << 4) | (a >> 12);
        std::vector<uint8_t> high(1);
        reader.Read(4, high);
        Entry.SetValue(count - 1, (uint32_t{high[0]} << 8) | low);
    }
}

FileAllocationTable16::FileAllocationTable16() : FileAllocationTable1216Base("FileAllocationTable16", 16) {}

bool FileAllocationTable16::IsEndOfChain(uint32_t value) const {
    return 0xFFF8 <= value && value <= 0xFFFF;
}

FileAllocationTable16Check::FileAllocationTable16Check() : AAA::Block("FileAllocationTable16Check") { Link(); }

void FileAllocationTable16Check::Link() {
    SetMembers({FAT16_TABLE_HEAD_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

// ---- Directory entries -------------------------------------------------------------------

DirectoryEntry1216::DirectoryEntry1216() : DirectoryEntryBase("DirectoryEntry1216") { Link(); }

DirectoryEntry1216::DirectoryEntry1216(const DirectoryEntry1216& other)
    : DirectoryEntryBase(other), ReservedField(other.ReservedField),
      StartingClusterNumber(other.StartingClusterNumber) {
    Link();
}

void DirectoryEntry1216::Link() {
    SetMembers({FAT1216_SLOT_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

bool DirectoryEntry1216::IsValid() const {
    if (!(IsDotEntry() || IsDotDotEntry() || HasValidName()))
        return false;
    if (!HasValidExtension() || !HasValidAttributes())
        return false;
    return TimeRecorded.IsValid() && DateRecorded.IsValid();
}

// ---- Directories -------------------------------------------------------------------------

Directory1216::Directory1216() : AAA::Block("Directory1216") {
    NumberOfEntries.SetValue(FatCommon::kDirectorySlotLimit);
    Link();
}

void Directory1216::Link() {
    SetMembers({}); // the slots are read by ReadEntries
    AAA::Block::Link();
    NumberOfEntries.parent = this;
}

bool Directory1216::StopsAt(uint32_t, const DirectoryEntry1216&) const {
    return false;
}

bool SubDirectory1216::StopsAt(uint32_t slotIndex, const DirectoryEntry1216& slot) const {
    return (slotIndex == 0 && !slot.IsDotEntry()) || (slotIndex == 1 && !slot.IsDotDotEntry());
}

uint64_t Directory1216::ReadEntries(AAA::BitReader& reader) {
    readPosition = 0;
    return FatCommon::ReadValidSlots(*this, reader);
}

} // namespace FSAccessLib::FAT1216
