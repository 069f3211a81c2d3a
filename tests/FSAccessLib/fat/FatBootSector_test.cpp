// The boot-sector offsets are the records' layout: a value written at a
// field's offset is what both FAT boot-sector records read into that field.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "AAA_Stream.h"
#include "FSSpecFAT16Records.h"
#include "FSSpecFAT32Records.h"

namespace {

using namespace FSAccessLib;

struct Placed {
    int offset;
    int bytes;
};

// A sector of zeros holding `value` little-endian at the field's place.
std::vector<uint8_t> SectorWith(Placed at, uint32_t value) {
    std::vector<uint8_t> sector(BootOffset::SectorEnd, 0);
    for (int i = 0; i < at.bytes; ++i)
        sector[static_cast<size_t>(at.offset + i)] = static_cast<uint8_t>(value >> (8 * i));
    return sector;
}

template <class Record>
void ExpectFieldsAtTheirOffsets(const std::vector<std::pair<AAA::Field::LE Record::*, Placed>>& fields) {
    for (const auto& [member, at] : fields) {
        const uint32_t value = at.bytes == 1 ? 0xA5 : at.bytes == 2 ? 0xA51C : 0xA51C3E77;
        Record record;
        EXPECT_EQ(record.BitLength(), 8 * BootOffset::SectorEnd);
        AAA::MemoryStream stream(SectorWith(at, value));
        AAA::ReadRecordAt(stream, 0, record);
        EXPECT_EQ((record.*member).Value(), value) << (record.*member).FullName() << " at " << at.offset;
    }
}

TEST(FatBootSector, PrefixAndExtensionFieldsSitAtTheirOffsets) {
    using namespace BootOffset;
    ExpectFieldsAtTheirOffsets<FAT1216::ExtendedFDCDescriptor>({
        {&FAT1216::ExtendedFDCDescriptor::SectorSize, {SectorSize, 2}},
        {&FAT1216::ExtendedFDCDescriptor::SectorsPerCluster, {SectorsPerCluster, 1}},
        {&FAT1216::ExtendedFDCDescriptor::ReservedSectorCount, {ReservedSectorCount, 2}},
        {&FAT1216::ExtendedFDCDescriptor::NumberOfRootDirectoryEntries, {NumberOfRootDirectoryEntries, 2}},
        {&FAT1216::ExtendedFDCDescriptor::SectorsPerFAT, {SectorsPerFAT, 2}},
        {&FAT1216::ExtendedFDCDescriptor::NumberOfHiddenSectors, {NumberOfHiddenSectors, 4}},
        {&FAT1216::ExtendedFDCDescriptor::TotalSectors2, {TotalSectors2, 4}},
        {&FAT1216::ExtendedFDCDescriptor::VolumeIdNumber, {FAT1216::BootOffset1216::VolumeIdNumber, 4}},
    });
    ExpectFieldsAtTheirOffsets<FAT32::PartitionBootSector>({
        {&FAT32::PartitionBootSector::SectorSize, {SectorSize, 2}},
        {&FAT32::PartitionBootSector::NumberOfSides, {NumberOfSides, 2}},
        {&FAT32::PartitionBootSector::TotalSectors2, {TotalSectors2, 4}},
        {&FAT32::PartitionBootSector::SectorsPerFAT32, {FAT32::BootOffset32::SectorsPerFAT32, 4}},
        {&FAT32::PartitionBootSector::RootCluster, {FAT32::BootOffset32::RootCluster, 4}},
        {&FAT32::PartitionBootSector::FsInfo, {FAT32::BootOffset32::FsInfo, 2}},
        {&FAT32::PartitionBootSector::BackupBootSector, {FAT32::BootOffset32::BackupBootSector, 2}},
        {&FAT32::PartitionBootSector::VolumeIDNumber, {FAT32::BootOffset32::VolumeIDNumber, 4}},
    });
}

} // namespace
