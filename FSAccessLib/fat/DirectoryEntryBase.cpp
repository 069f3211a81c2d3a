#include "DirectoryEntryBase.h"

#include <cstring>

namespace FSAccessLib {
namespace {

uint32_t ReadWord(AAA::Field::LE& raw, AAA::BitReader& reader) {
    raw.Read(reader);
    return raw.Value();
}

void WriteWordLittleEndian(AAA::BitWriter& writer, uint32_t word) {
    writer.Write(8, {static_cast<uint8_t>(word & 0xFF)});
    writer.Write(8, {static_cast<uint8_t>((word >> 8) & 0xFF)});
}

} // namespace

// ---- TimeFormat -----------------------------------------------------------------

TimeFormat::TimeFormat(std::string ownerName) : AAA::Block(std::move(ownerName)) { Link(); }

TimeFormat::TimeFormat(const TimeFormat& other)
    : AAA::Block(other), Raw(other.Raw), Hours(other.Hours), Minutes(other.Minutes), Seconds(other.Seconds) {
    Link();
}

void TimeFormat::Link() {
    SetMembers({&Hours, &Minutes, &Seconds});
    AAA::Block::Link();
    Raw.parent = this;
}

void TimeFormat::Read(AAA::BitReader& reader) {
    const uint32_t v = ReadWord(Raw, reader);
    Hours.SetValue(v >> 11);
    Minutes.SetValue((v >> 5) & 0x3F);
    Seconds.SetValue(v & 0x1F);
}

void TimeFormat::Write(AAA::BitWriter& writer) {
    WriteWordLittleEndian(writer, (Hours.Value() << 11) | (Minutes.Value() << 5) | Seconds.Value());
}

bool TimeFormat::IsValid() const {
    return Hours.Value() <= 23 && Minutes.Value() <= 59 && Seconds.Value() <= 29;
}

// ---- DateFormat -----------------------------------------------------------------

DateFormat::DateFormat(std::string ownerName) : AAA::Block(std::move(ownerName)) { Link(); }

DateFormat::DateFormat(const DateFormat& other)
    : AAA::Block(other), Raw(other.Raw), Years(other.Years), Month(other.Month), Day(other.Day) {
    Link();
}

void DateFormat::Link() {
    SetMembers({&Years, &Month, &Day});
    AAA::Block::Link();
    Raw.parent = this;
}

void DateFormat::Read(AAA::BitReader& reader) {
    const uint32_t v = ReadWord(Raw, reader);
    Years.SetValue(v >> 9);
    Month.SetValue((v >> 5) & 0x0F);
    Day.SetValue(v & 0x1F);
}

void DateFormat::Write(AAA::BitWriter& writer) {
    WriteWordLittleEndian(writer, (Years.Value() << 9) | (Month.Value() << 5) | Day.Value());
}

bool DateFormat::IsValid() const {
    const uint32_t years = Years.Value(), month = Month.Value(), day = Day.Value();
    if (years == 0 && month == 0 && day == 0)
        return true;
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// ---- Short-name bytes -------------------------------------------------------------

bool IsValidShortNameByte(uint8_t b) {
    return b == 0x20 || b == 0x21 || (b >= 0x23 && b <= 0x29) || b == 0x2D || (b >= 0x30 && b <= 0x39) ||
           (b >= 0x40 && b <= 0x5A) || (b >= 0x5E && b <= 0x60) || b == 0x7B || b >= 0x7D;
}

bool IsValidShortNameFirstByte(uint8_t b) {
    return IsValidShortNameByte(b) && b != 0x20;
}

bool IsValidShortName(const uint8_t* nameBytes8) {
    if (!IsValidShortNameFirstByte(nameBytes8[0]))
        return false;
    for (int i = 1; i < 8; ++i)
        if (!IsValidShortNameByte(nameBytes8[i]))
            return false;
    return true;
}

bool IsValidShortExtension(const uint8_t* extensionBytes3) {
    for (int i = 0; i < 3; ++i)
        if (!IsValidShortNameByte(extensionBytes3[i]))
            return false;
    return true;
}

bool IsValidShortEntryAttributes(uint32_t attributes) {
    return attributes <= 0x3F && (attributes & 0x08) == 0 && (attributes & 0x0F) != 0x0F;
}

// ---- DirectoryEntryBase -------------------------------------------------------------

DirectoryEntryBase::DirectoryEntryBase(std::string blockName) : AAA::Block(std::move(blockName)) { Link(); }

DirectoryEntryBase::DirectoryEntryBase(const DirectoryEntryBase& other)
    : AAA::Block(other), Name(other.Name), NameExtension(other.NameExtension), Attributes(other.Attributes),
      TimeRecorded(other.TimeRecorded), DateRecorded(other.DateRecorded), FileLength(other.FileLength) {
    // The member list stays empty here: the complete object lists its members
    // (its own between these) on first use or in its own copy constructor.
}

void DirectoryEntryBase::Link() {
    SetMembers({FAT_SLOT_NAME_LAYOUT(AAA_LAYOUT_ADDRESS) FAT_SLOT_RECORDED_LAYOUT(AAA_LAYOUT_ADDRESS)
                    FAT_SLOT_LENGTH_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

bool DirectoryEntryBase::IsDotEntry() const {
    return Name.Equal(".       ");
}

bool DirectoryEntryBase::IsDotDotEntry() const {
    return Name.Equal("..      ");
}

bool DirectoryEntryBase::HasValidName() const {
    return IsValidShortName(Name.Data().data());
}

bool DirectoryEntryBase::HasValidExtension() const {
    return IsValidShortExtension(NameExtension.Data().data());
}

bool DirectoryEntryBase::HasValidAttributes() const {
    return IsValidShortEntryAttributes(Attributes.Value());
}

bool DirectoryEntryBase::IsDeleted() const {
    return Name.Data()[0] == 0xE5;
}

bool DirectoryEntryBase::IsEndOfDirectory() const {
    return Name.Data()[0] == 0x00;
}

bool DirectoryEntryBase::IsDirectory() const {
    return (Attributes.Value() & 0x10) == 0x10;
}

std::string DirectoryEntryBase::ShortName() const {
    return std::string(Name.Data().begin(), Name.Data().end());
}

std::string DirectoryEntryBase::ShortExtension() const {
    return std::string(NameExtension.Data().begin(), NameExtension.Data().end());
}

} // namespace FSAccessLib
