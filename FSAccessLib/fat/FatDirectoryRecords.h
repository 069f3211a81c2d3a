#pragma once
// The 32-byte FAT directory slot, declared once by byte offset. FAT12/16 and
// FAT32 share the name, the recorded stamp and the length; they differ in the
// bytes between (reserved, or FAT32's creation stamps and the cluster's high
// half). The rows make the records' fields and read order and the decoding of
// raw slots; static_asserts prove each layout fills the 32 bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "AAA_RecordLayout.h"

// ROW(kind, name, offset, bytes); Time and Date are the FAT time and date words.
#define FAT_SLOT_NAME_LAYOUT(ROW)            \
    ROW(Str, Name, 0, 8)                     \
    ROW(Str, NameExtension, 8, 3)            \
    ROW(LE, Attributes, 11, 1)
#define FAT_SLOT_RECORDED_LAYOUT(ROW)        \
    ROW(Time, TimeRecorded, 22, 2)           \
    ROW(Date, DateRecorded, 24, 2)
#define FAT_SLOT_LENGTH_LAYOUT(ROW) ROW(LE, FileLength, 28, 4)

#define FAT1216_SLOT_RESERVED_LAYOUT(ROW) ROW(BE, ReservedField, 12, 10)
#define FAT1216_SLOT_CLUSTER_LAYOUT(ROW) ROW(LE, StartingClusterNumber, 26, 2)

#define FAT32_SLOT_CREATED_LAYOUT(ROW)       \
    ROW(BE, ReservedForNT, 12, 1)            \
    ROW(LE, CreatedTimeTenth, 13, 1)         \
    ROW(Time, CreatedTime, 14, 2)            \
    ROW(Date, CreatedDate, 16, 2)            \
    ROW(Date, LastAccessDate, 18, 2)         \
    ROW(LE, StartingClusterNumberHigh, 20, 2)
#define FAT32_SLOT_CLUSTER_LAYOUT(ROW) ROW(LE, StartingClusterNumberLow, 26, 2)

// The whole slots in disk order.
#define FAT1216_SLOT_LAYOUT(ROW)             \
    FAT_SLOT_NAME_LAYOUT(ROW)                \
    FAT1216_SLOT_RESERVED_LAYOUT(ROW)        \
    FAT_SLOT_RECORDED_LAYOUT(ROW)            \
    FAT1216_SLOT_CLUSTER_LAYOUT(ROW)         \
    FAT_SLOT_LENGTH_LAYOUT(ROW)
#define FAT32_SLOT_LAYOUT(ROW)               \
    FAT_SLOT_NAME_LAYOUT(ROW)                \
    FAT32_SLOT_CREATED_LAYOUT(ROW)           \
    FAT_SLOT_RECORDED_LAYOUT(ROW)            \
    FAT32_SLOT_CLUSTER_LAYOUT(ROW)           \
    FAT_SLOT_LENGTH_LAYOUT(ROW)

namespace FSAccessLib {

inline constexpr size_t kFatSlotBytes = 32;

// The places of the fields, for looks at raw slots.
namespace SlotField1216 {
FAT1216_SLOT_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace SlotField1216
namespace SlotField32 {
FAT32_SLOT_LAYOUT(AAA_LAYOUT_PLACE)
} // namespace SlotField32

static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT1216_SLOT_LAYOUT), 0, kFatSlotBytes));
static_assert(AAA::Tiles(AAA_LAYOUT_SPANS(FAT32_SLOT_LAYOUT), 0, kFatSlotBytes));
static_assert(SlotField32::Name.offset == 0 && SlotField32::NameExtension.End() == 11); // one 11-byte short name

// Which halves of the first cluster a slot holds: FAT32 keeps the high half too.
enum class ClusterHalves { LowOnly, HighAndLow };

// The first cluster from its two stored halves.
constexpr uint32_t FirstClusterOf(uint32_t high, uint32_t low) { return high << 16 | low; }

// The fields of a raw slot a look at bytes needs, as plain values.
struct FatSlotValues {
    std::array<uint8_t, 11> shortName{}; // 8 name and 3 extension bytes as stored
    uint8_t attributes = 0;
    uint32_t firstCluster = 0;
    uint32_t fileLength = 0;
};

// `slot` (32 bytes; a shorter one decodes as zeros) read as a FAT12/16 or FAT32 slot.
constexpr FatSlotValues DecodeFatSlot(std::span<const uint8_t> slot, ClusterHalves halves) {
    FatSlotValues values;
    if (slot.size() < kFatSlotBytes)
        return values;
    for (size_t i = 0; i < values.shortName.size(); ++i)
        values.shortName[i] = slot[SlotField32::Name.offset + i];
    const auto at = [slot](AAA::FieldSpan field) { return static_cast<uint32_t>(AAA::LittleEndianAt(slot, field)); };
    values.attributes = static_cast<uint8_t>(at(SlotField32::Attributes));
    values.firstCluster = halves == ClusterHalves::HighAndLow
                              ? FirstClusterOf(at(SlotField32::StartingClusterNumberHigh),
                                               at(SlotField32::StartingClusterNumberLow))
                              : at(SlotField1216::StartingClusterNumber);
    values.fileLength = at(SlotField32::FileLength);
    return values;
}

} // namespace FSAccessLib
