#include "AAA_Field.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_Utility.h"

namespace AAA {
namespace {

constexpr uint8_t kFreshByte = 0xAA;

std::string HexBytes(const std::vector<uint8_t>& bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count && i < bytes.size(); ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

} // namespace

std::string Element::FullName() const {
    std::string full = name;
    for (const Element* outer = parent; outer; outer = outer->parent) {
        if (!outer->name.empty())
            full = outer->name + "." + full;
    }
    return full;
}

// ---- FieldBase -------------------------------------------------------------

FieldBase::FieldBase(int bits, std::string fieldName, const char* fieldKind)
    : Element(std::move(fieldName)),
      data_((static_cast<size_t>(bits) + 7) / 8, kFreshByte),
      snapshot_(data_),
      bitLength_(bits),
      kind_(fieldKind) {}

FieldBase& FieldBase::operator=(const FieldBase& other) {
    if (this == &other)
        return *this;
    data_ = other.data_;
    snapshot_ = other.snapshot_;
    kind_ = other.kind_;
    bitLength_ = other.bitLength_;
    position_ = other.position_;
    notificationContext_ = other.notificationContext_;
    Notify();
    return *this;
}

void FieldBase::Notify() const {
    if (notification_)
        notification_(notificationContext_);
}

void FieldBase::SetNotification(void* context, Notification function) {
    notificationContext_ = context;
    notification_ = function;
}

void FieldBase::FinishRead() {
    snapshot_ = data_;
    Notify();
    Dump("");
}

void FieldBase::Read(BitReader& reader) {
    position_ = static_cast<int64_t>(reader.BitsConsumed());
    if (bitLength_ == 0)
        return;
    reader.Read(static_cast<uint32_t>(bitLength_), data_);
    FinishRead();
}

void Field::LE::Read(BitReader& reader) {
    position_ = static_cast<int64_t>(reader.BitsConsumed());
    if (bitLength_ == 0)
        return;
    assert(data_.size() <= 8 && "size <= 8");
    reader.Read(static_cast<uint32_t>(bitLength_), data_);
    std::reverse(data_.begin(), data_.end());
    FinishRead();
}

void FieldBase::Write(BitWriter& writer) {
    writer.Write(static_cast<uint32_t>(bitLength_), data_);
}

bool FieldBase::IsChanged() const {
    return !data_.empty() && data_ != snapshot_;
}

void FieldBase::AssignRead(const uint8_t* bytes, size_t count, int64_t position) {
    const size_t n = std::min(count, data_.size());
    if (n > 0)
        std::memcpy(data_.data(), bytes, n);
    snapshot_ = data_;
    position_ = position;
}

void FieldBase::SetBitLength(int bits) {
    bitLength_ = bits;
    data_.resize((static_cast<size_t>(bits) + 7) / 8, kFreshByte);
    snapshot_ = data_;
}

std::string FieldBase::ToString() const {
    if (std::strcmp(kind_, "Str") == 0)
        return std::string(data_.begin(), data_.end());
    if (std::strcmp(kind_, "Utf16") == 0) {
        std::string narrow;
        for (size_t i = 0; i + 1 < data_.size(); i += 2)
            narrow.push_back(static_cast<char>(data_[i]));
        return narrow;
    }
    if (bitLength_ > 32)
        return {};
    return FormatString("%u", Value());
}

uint32_t FieldBase::Value() const {
    assert(data_.size() <= 8 && "size <= 8");
    if (data_.size() == 8)
        return static_cast<uint32_t>(Value64());
    if (data_.empty() || data_.size() > 4)
        return 0;
    return static_cast<uint32_t>(Value64());
}

uint64_t FieldBase::Value64() const {
    uint64_t value = 0;
    for (size_t i = 0; i < data_.size() && i < 8; ++i)
        value = (value << 8) | data_[data_.size() - std::min<size_t>(data_.size(), 8) + i];
    return value;
}

void FieldBase::SetBytes(const uint8_t* bytes, int count) {
    size_t n = count == 0 ? data_.size() : static_cast<size_t>(count);
    n = std::min(n, data_.size()); // a larger count would write past the field
    std::memcpy(data_.data(), bytes, n);
    Notify();
}

void FieldBase::SetValue(uint64_t value) {
    const size_t n = data_.size();
    for (size_t i = 0; i < n; ++i)
        data_[n - 1 - i] = i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
    Notify();
    Dump("= ");
}

bool FieldBase::Compare(const FieldBase& expected, const char* expectedText, const char* file, int line) const {
    if (expected.data_ == data_)
        return true;
    if (file) {
        ReportHeader(file, line);
        ReportExpected(expected, expectedText);
        ReportActual();
    }
    return false;
}

bool FieldBase::CompareValue(uint64_t expected, const char* expectedText, const char* file, int line) const {
    FieldBase copy(*this);
    copy.SetNotification(nullptr, nullptr);
    const size_t n = copy.data_.size();
    for (size_t i = 0; i < n; ++i)
        copy.data_[n - 1 - i] = i < 8 ? static_cast<uint8_t>(expected >> (8 * i)) : 0;
    return Compare(copy, expectedText, file, line);
}

void FieldBase::ReportExpected(const FieldBase& expected, const char* expectedText) const {
    if (!LogEnabled(6))
        return;
    const std::string text = "  Expected: 0x" + HexBytes(expected.data_, data_.size()) + " \"" +
                             expected.ToString() + "\" (" + (expectedText ? expectedText : "") + ")\n";
    DebugLog(6, "%S", text);
}

void FieldBase::ReportActual() const {
    if (!LogEnabled(6))
        return;
    DebugLog(6, "%S", "    Actual: 0x" + HexBytes(data_, data_.size()) + " \"" + ToString() + "\"\n");
}

void FieldBase::Dump(const char* prefix) const {
    if (!LogEnabled(7))
        return;
    std::string line = FormatLogText("    %S%S {%d,%S} = 0x", {prefix, FullName(), BitLength(), kind_});
    line += HexBytes(data_, data_.size());
    line += " \"" + ToString() + "\"\n";
    DebugLog(7, "%S", line);
}

bool FieldBase::Equal(const void* bytes, const char* expectedText, const char* file, int line) const {
    FieldBase copy(*this);
    copy.SetNotification(nullptr, nullptr);
    std::memcpy(copy.data_.data(), bytes, copy.data_.size());
    return Compare(copy, expectedText, file, line);
}

void FieldBase::Expect(const void* bytes, const char* expectedText, const char* file, int line) const {
    if (!Equal(bytes, expectedText, file, line))
        throw InvalidDataException();
}

void FieldBase::ExpectTrue(bool condition, const char* conditionText, const char* file, int line) const {
    if (condition)
        return;
    ReportHeader(file, line);
    DebugLog(6, "  Expected: true (\"%S\")\n", conditionText ? conditionText : "");
    ReportActual();
    throw InvalidDataException();
}

void FieldBase::ReportHeader(const char* file, int line) const {
    if (!LogEnabled(6))
        return;
    DebugLog(6, "%S(%d):\n", file ? file : "", line);
    DebugLog(6, "      Name: %S\n", FullName());
}

WString Field::Utf16::ToWideString() const {
    WString wide;
    wide.reserve(data_.size() / 2);
    for (size_t i = 0; i + 1 < data_.size(); i += 2)
        wide.push_back(static_cast<char16_t>(data_[i] | (data_[i + 1] << 8)));
    return wide;
}

void ReadRecordAt(Stream& stream, uint64_t offset, Element& record) {
    stream.Seek(static_cast<int64_t>(offset), SeekBegin);
    BitReader reader(stream);
    record.Read(reader);
}

// ---- Block -------------------------------------------------------------------

void Block::SetMembers(std::initializer_list<Element*> members) {
    members_.assign(members.begin(), members.end());
}

void Block::SetMembers(std::vector<Element*> members) { members_ = std::move(members); }

const std::vector<Element*>& Block::Members() const {
    if (members_.empty())
        const_cast<Block*>(this)->Link(); // a copied block lists its own members lazily
    return members_;
}

void Block::Link() {
    for (Element* member : members_) {
        member->parent = this;
        member->Link();
    }
}

int Block::BitLength() const {
    int bits = 0;
    for (const Element* member : Members())
        bits += member->BitLength();
    return bits;
}

void Block::Read(BitReader& reader) {
    const auto& members = Members();
    for (size_t i = 0; i < members.size(); ++i)
        members[i]->Read(reader);
}

void Block::Write(BitWriter& writer) {
    for (Element* member : Members())
        member->Write(writer);
}

void Block::Reserved1() {
    for (Element* member : Members())
        member->Reserved1();
}

void Block::Reserved2() {
    for (Element* member : Members())
        member->Reserved2();
}

bool Block::IsChanged() const {
    for (const Element* member : Members())
        if (member->IsChanged())
            return true;
    return false;
}

// ---- Packed little-endian array ----------------------------------------------

Array<Field::LE>::Array(int entryBits, std::string entryName)
    : entryBits_(entryBits), stride_((static_cast<size_t>(entryBits) + 7) / 8), entryName_(std::move(entryName)) {
    assert(stride_ <= 8 && "size <= 8");
}

void Array<Field::LE>::Resize(size_t count) {
    // New entries hold the same bytes a freshly constructed field holds.
    storage_.resize(count * stride_, kFreshByte);
    storage_.shrink_to_fit();
    count_ = count;
}

void Array<Field::LE>::SetValue(size_t index, uint64_t value) {
    uint8_t* p = storage_.data() + index * stride_;
    for (size_t i = 0; i < stride_; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
    changed_ = true;
}

Field::LE Array<Field::LE>::Entry(size_t index) const {
    Field::LE field(entryBits_, entryName_);
    field.parent = parent;
    uint8_t bytes[8] = {};
    const uint64_t value = Value64(index);
    for (size_t i = 0; i < stride_; ++i)
        bytes[stride_ - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
    const int64_t position = readStart_ < 0 ? -1 : readStart_ + static_cast<int64_t>(index) * entryBits_;
    field.AssignRead(bytes, stride_, position);
    return field;
}

void Array<Field::LE>::Read(BitReader& reader) {
    readStart_ = static_cast<int64_t>(reader.BitsConsumed());
    changed_ = false;
    if (entryBits_ == 0 || count_ == 0)
        return;
    if (reader.IsByteAligned() && entryBits_ % 8 == 0) {
        // On-disk little-endian bytes are exactly the packed layout.
        reader.ReadAlignedBytes(storage_.data(), storage_.size());
    } else {
        ReadEntryByEntry(reader);
    }
    DumpAll();
}

void Array<Field::LE>::ReadEntryByEntry(BitReader& reader) {
    std::vector<uint8_t> bytes(stride_);
    for (size_t index = 0; index < count_; ++index) {
        reader.Read(static_cast<uint32_t>(entryBits_), bytes);
        // As a field would: the bytes as read, reversed to most significant first.
        uint8_t* p = storage_.data() + index * stride_;
        for (size_t i = 0; i < stride_; ++i)
            p[i] = bytes[i];
    }
}

void Array<Field::LE>::DumpAll() const {
    if (!LogEnabled(7))
        return;
    for (size_t index = 0; index < count_; ++index)
        Entry(index).Dump("");
}

void Array<Field::LE>::Write(BitWriter& writer) {
    for (size_t index = 0; index < count_; ++index) {
        Field::LE field = Entry(index);
        field.Write(writer);
    }
}

} // namespace AAA
