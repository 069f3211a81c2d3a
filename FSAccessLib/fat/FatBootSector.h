#pragma once
// The boot-sector fields every FAT volume begins with, declared once with the
// byte offsets the FAT standard gives them; FAT12/16 and FAT32 extend them.
// Field widths follow from the offsets, so no field can drift from its place.
#include <initializer_list>
#include <string>
#include <vector>

#include "AAA_Field.h"

namespace FSAccessLib {

// Byte offsets, each field ending where the next begins.
namespace BootOffset {
inline constexpr int JumpCommand = 0;
inline constexpr int CreatingSystemIdentifier = 3;
inline constexpr int SectorSize = 11;
inline constexpr int SectorsPerCluster = 13;
inline constexpr int ReservedSectorCount = 14;
inline constexpr int NumberOfFATs = 16;
inline constexpr int NumberOfRootDirectoryEntries = 17;
inline constexpr int TotalSectors1 = 19;
inline constexpr int MediumIdentifier = 21;
inline constexpr int SectorsPerFAT = 22;
inline constexpr int SectorsPerTrack = 24;
inline constexpr int NumberOfSides = 26;
inline constexpr int NumberOfHiddenSectors = 28;
inline constexpr int TotalSectors2 = 32;
inline constexpr int PrefixEnd = 36;
// Every type's sector ends with the signature word.
inline constexpr int SignatureWord = 510;
inline constexpr int SectorEnd = 512;
static_assert(JumpCommand < CreatingSystemIdentifier && CreatingSystemIdentifier < SectorSize &&
              SectorSize < SectorsPerCluster && SectorsPerCluster < ReservedSectorCount &&
              ReservedSectorCount < NumberOfFATs && NumberOfFATs < NumberOfRootDirectoryEntries &&
              NumberOfRootDirectoryEntries < TotalSectors1 && TotalSectors1 < MediumIdentifier &&
              MediumIdentifier < SectorsPerFAT && SectorsPerFAT < SectorsPerTrack && SectorsPerTrack < NumberOfSides &&
              NumberOfSides < NumberOfHiddenSectors && NumberOfHiddenSectors < TotalSectors2 &&
              TotalSectors2 < PrefixEnd && PrefixEnd == 36 && SignatureWord + 2 == SectorEnd && SectorEnd == 512);
} // namespace BootOffset

// The bits of the field from byte `from` to byte `to`.
constexpr int Bits(int from, int to) { return 8 * (to - from); }

class FatBootSectorPrefix : public AAA::Block {
public:
    AAA::Field::BE JumpCommand{Bits(BootOffset::JumpCommand, BootOffset::CreatingSystemIdentifier), "JumpCommand"};
    AAA::Field::Str CreatingSystemIdentifier{Bits(BootOffset::CreatingSystemIdentifier, BootOffset::SectorSize),
                                             "CreatingSystemIdentifier"};
    AAA::Field::LE SectorSize{Bits(BootOffset::SectorSize, BootOffset::SectorsPerCluster), "SectorSize"};
    AAA::Field::LE SectorsPerCluster{Bits(BootOffset::SectorsPerCluster, BootOffset::ReservedSectorCount),
                                     "SectorsPerCluster"};
    AAA::Field::LE ReservedSectorCount{Bits(BootOffset::ReservedSectorCount, BootOffset::NumberOfFATs),
                                       "ReservedSectorCount"};
    AAA::Field::LE NumberOfFATs{Bits(BootOffset::NumberOfFATs, BootOffset::NumberOfRootDirectoryEntries),
                                "NumberOfFATs"};
    AAA::Field::LE NumberOfRootDirectoryEntries{
        Bits(BootOffset::NumberOfRootDirectoryEntries, BootOffset::TotalSectors1), "NumberOfRootDirectoryEntries"};
    AAA::Field::LE TotalSectors1{Bits(BootOffset::TotalSectors1, BootOffset::MediumIdentifier), "TotalSectors1"};
    AAA::Field::BE MediumIdentifier{Bits(BootOffset::MediumIdentifier, BootOffset::SectorsPerFAT), "MediumIdentifier"};
    AAA::Field::LE SectorsPerFAT{Bits(BootOffset::SectorsPerFAT, BootOffset::SectorsPerTrack), "SectorsPerFAT"};
    AAA::Field::LE SectorsPerTrack{Bits(BootOffset::SectorsPerTrack, BootOffset::NumberOfSides), "SectorsPerTrack"};
    AAA::Field::LE NumberOfSides{Bits(BootOffset::NumberOfSides, BootOffset::NumberOfHiddenSectors), "NumberOfSides"};
    AAA::Field::LE NumberOfHiddenSectors{Bits(BootOffset::NumberOfHiddenSectors, BootOffset::TotalSectors2),
                                         "NumberOfHiddenSectors"};
    AAA::Field::LE TotalSectors2{Bits(BootOffset::TotalSectors2, BootOffset::PrefixEnd), "TotalSectors2"};

protected:
    explicit FatBootSectorPrefix(std::string blockName) : AAA::Block(std::move(blockName)) {}
    // Lists the prefix, then the type's own fields in disk order, and links them.
    void LinkAfterPrefix(std::initializer_list<AAA::Element*> own) {
        std::vector<AAA::Element*> members = {&JumpCommand,       &CreatingSystemIdentifier,
                                              &SectorSize,        &SectorsPerCluster,
                                              &ReservedSectorCount, &NumberOfFATs,
                                              &NumberOfRootDirectoryEntries, &TotalSectors1,
                                              &MediumIdentifier,  &SectorsPerFAT,
                                              &SectorsPerTrack,   &NumberOfSides,
                                              &NumberOfHiddenSectors, &TotalSectors2};
        members.insert(members.end(), own.begin(), own.end());
        SetMembers(std::move(members));
        AAA::Block::Link();
    }
};

} // namespace FSAccessLib
