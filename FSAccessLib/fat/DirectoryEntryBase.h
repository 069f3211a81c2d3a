#pragma once
// On-disk records shared by the FAT12/16 and FAT32 directory entries, and the
// byte rules that tell a plausible short-name slot from garbage.
#include <cstdint>
#include <string>

#include "AAA_Field.h"
#include "FatDirectoryRecords.h"

namespace FSAccessLib {

// A FAT time word: Hours (5 bits), Minutes (6), Seconds (5, two-second units).
class TimeFormat : public AAA::Block {
public:
    explicit TimeFormat(std::string ownerName);
    TimeFormat(const TimeFormat& other);
    void Link() override;
    // Reads one little-endian word ("TimeFormat") and splits it.
    void Read(AAA::BitReader& reader) override;
    // Writes the word back in its little-endian disk order.
    void Write(AAA::BitWriter& writer) override;
    bool IsValid() const;

    AAA::Field::LE Raw{16, "TimeFormat"};
    AAA::Field::BE Hours{5, "Hours"};
    AAA::Field::BE Minutes{6, "Minutes"};
    AAA::Field::BE Seconds{5, "Seconds"};
};

// A FAT date word: Years since 1980 (7 bits), Month (4), Day (5).
class DateFormat : public AAA::Block {
public:
    explicit DateFormat(std::string ownerName);
    DateFormat(const DateFormat& other);
    void Link() override;
    void Read(AAA::BitReader& reader) override;
    void Write(AAA::BitWriter& writer) override;
    // All zero, or a month 1..12 with a day 1..31; the year is not checked.
    bool IsValid() const;

    AAA::Field::LE Raw{16, "DateFormat"};
    AAA::Field::BE Years{7, "Years"};
    AAA::Field::BE Month{4, "Month"};
    AAA::Field::BE Day{5, "Day"};
};

// Layout rows of kind Time and Date are these words.
#define AAA_FIELD_Time(name, bytes) TimeFormat name{#name};
#define AAA_FIELD_Date(name, bytes) DateFormat name{#name};

// Bytes a FAT short name may hold (0xE5 included, lower case and separators not).
bool IsValidShortNameByte(uint8_t byte);
// First name byte: allowed and not a blank.
bool IsValidShortNameFirstByte(uint8_t byte);
// All 8 name bytes: the first by the rule above, the other seven allowed (blanks too).
bool IsValidShortName(const uint8_t* nameBytes8);
// All 3 extension bytes allowed.
bool IsValidShortExtension(const uint8_t* extensionBytes3);
// <= 0x3F, no volume label, not a long-file-name slot (low four bits all set).
bool IsValidShortEntryAttributes(uint32_t attributes);

// The fields every FAT directory entry has. The subclass declares the fields in
// between and fixes the disk order in its own Link(); this class's Link() lists
// only its own fields, in disk order, so it can stand alone for tests.
// A subclass's copy constructor should call Link() so the copied fields name
// the copy as their parent at once.
class DirectoryEntryBase : public AAA::Block {
public:
    explicit DirectoryEntryBase(std::string blockName);
    DirectoryEntryBase(const DirectoryEntryBase& other);
    void Link() override;

    virtual bool IsDotEntry() const;
    virtual bool IsDotDotEntry() const;

    // The derived checks applied to this record's bytes.
    bool HasValidName() const;
    bool HasValidExtension() const;
    bool HasValidAttributes() const;
    bool IsDeleted() const;         // first name byte 0xE5
    bool IsEndOfDirectory() const;  // first name byte 0x00
    bool IsDirectory() const;       // attribute 0x10

    std::string ShortName() const;       // the 8 name bytes as stored
    std::string ShortExtension() const;  // the 3 extension bytes as stored

    FAT_SLOT_NAME_LAYOUT(AAA_LAYOUT_MEMBER)
    FAT_SLOT_RECORDED_LAYOUT(AAA_LAYOUT_MEMBER)
    FAT_SLOT_LENGTH_LAYOUT(AAA_LAYOUT_MEMBER)
};

} // namespace FSAccessLib
