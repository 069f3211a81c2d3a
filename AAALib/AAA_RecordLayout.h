#pragma once
// A record's layout written once, as rows of (kind, name, offset, bytes) in a
// list macro; the expanders below turn the same rows into the record's field
// members, its read order, its offset constants and a compile-time proof that
// the fields tile the record. Decoding raw bytes goes by the same rows, so a
// look at a raw sector and the record's read cannot disagree on a place.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace AAA {

// One field's place: `bytes` bytes from byte `offset` of its record.
struct FieldSpan {
    const char* name;
    size_t offset;
    size_t bytes;

    constexpr size_t End() const { return offset + bytes; }
};

// Whether the fields follow each other without gap or overlap from `begin` to `end`.
template <size_t N>
consteval bool Tiles(const std::array<FieldSpan, N>& fields, size_t begin, size_t end) {
    size_t at = begin;
    for (const FieldSpan& field : fields) {
        if (field.offset != at || field.bytes == 0)
            return false;
        at = field.End();
    }
    return at == end;
}

// The unsigned little-endian value of `field` in `record`; 0 when the bytes
// end before the field does, so a short buffer never reads past its end.
constexpr uint64_t LittleEndianAt(std::span<const uint8_t> record, FieldSpan field) {
    if (field.End() > record.size() || field.bytes > 8)
        return 0;
    uint64_t value = 0;
    for (size_t i = field.bytes; i-- > 0;)
        value = value << 8 | record[field.offset + i];
    return value;
}

// Whether `field` in `record` holds exactly the `field.bytes` characters of `text`.
constexpr bool BytesAtEqual(std::span<const uint8_t> record, FieldSpan field, const char* text) {
    if (field.End() > record.size())
        return false;
    for (size_t i = 0; i < field.bytes; ++i)
        if (record[field.offset + i] != static_cast<uint8_t>(text[i]))
            return false;
    return true;
}

} // namespace AAA

// ---- Expanders for a layout's rows --------------------------------------------------
// A row is ROW(kind, name, offset, bytes). `kind` picks the member's type
// through AAA_FIELD_<kind>: LE, BE, Str, Utf16 here; a record header defines
// its own for fields that are blocks (a time word, a flag word).
#define AAA_FIELD_LE(name, bytes) ::AAA::Field::LE name{8 * (bytes), #name};
#define AAA_FIELD_BE(name, bytes) ::AAA::Field::BE name{8 * (bytes), #name};
#define AAA_FIELD_Str(name, bytes) ::AAA::Field::Str name{8 * (bytes), #name};
#define AAA_FIELD_Utf16(name, bytes) ::AAA::Field::Utf16 name{8 * (bytes), #name};

// The field member the row declares.
#define AAA_LAYOUT_MEMBER(kind, name, offset, bytes) AAA_FIELD_##kind(name, bytes)
// The member's address, for SetMembers in disk order.
#define AAA_LAYOUT_ADDRESS(kind, name, offset, bytes) &name,
// The row's place, for a std::array<FieldSpan, N> of the layout.
#define AAA_LAYOUT_SPAN(kind, name, offset, bytes) ::AAA::FieldSpan{#name, offset, bytes},
// A named FieldSpan constant per row, for decoding raw bytes.
#define AAA_LAYOUT_PLACE(kind, name, offset, bytes) inline constexpr ::AAA::FieldSpan name{#name, offset, bytes};
// An int offset constant per row.
#define AAA_LAYOUT_OFFSET(kind, name, offset, bytes) inline constexpr int name = offset;
// Gives an already declared field the row's width (one class naming all fields,
// each layout sizing its own).
#define AAA_LAYOUT_WIDTH(kind, name, offset, bytes) name.SetBitLength(8 * (bytes));

// The layout's rows as a std::array<FieldSpan, N>.
#define AAA_LAYOUT_SPANS(LAYOUT) (std::array{LAYOUT(AAA_LAYOUT_SPAN)})
