#pragma once
// How a FAT12/16 or FAT32 directory takes in its 32-byte slots: up to the end
// mark or the count, valid slots kept, and the bytes up to the last one kept.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AAA_BitReader.h"
#include "AAA_DebugLog.h"
#include "AAA_Field.h"
#include "AAA_Stream.h"
#include "FatDirectoryRecords.h"

namespace FSAccessLib::FatCommon {

using SlotBytes = std::array<uint8_t, kFatSlotBytes>;

// The kept slots of a directory as their disk bytes: a slot record costs
// kilobytes, so a full folder of 65536 slots keeps 2 MiB instead of hundreds.
// One record is reused to hand a slot out.
template <class Slot>
class StoredSlots {
public:
    explicit StoredSlots(AAA::Element* owner) : owner_(owner) {}
    StoredSlots(const StoredSlots&) = delete;
    StoredSlots& operator=(const StoredSlots&) = delete;

    size_t Count() const { return bytes_.size(); }
    bool Empty() const { return bytes_.empty(); }
    // Slot `index` as a record; the reference holds until the next At or Parse.
    Slot& At(size_t index) const {
        AAA::LogThresholdCeiling quiet(7); // traced once, when it was read
        return Parse(bytes_.at(index));
    }
    // `bytes` read into the record, as a read from the disk would.
    Slot& Parse(const SlotBytes& bytes) const {
        AAA::MemoryStream memory(bytes.data(), bytes.size());
        AAA::BitReader reader(memory);
        record_.parent = owner_;
        record_.Read(reader);
        return record_;
    }
    void Keep(const SlotBytes& bytes) { bytes_.push_back(bytes); }
    void Clear() { bytes_.clear(); }
    size_t MemoryBytes() const { return bytes_.capacity() * sizeof(SlotBytes) + sizeof(record_); }

private:
    AAA::Element* owner_;
    std::vector<SlotBytes> bytes_;
    mutable Slot record_;
};

// Reads up to directory.NumberOfEntries slots into directory.entries, stopping
// at the end mark or where directory.StopsAt says; returns the byte size up
// to the last valid slot and leaves NumberOfEntries at the count kept.
template <class Directory>
uint64_t ReadValidSlots(Directory& directory, AAA::BitReader& reader) {
    const uint32_t limit = directory.NumberOfEntries.Value();
    directory.entries.Clear();
    uint32_t last = 0;
    SlotBytes bytes{};
    for (uint32_t i = 0; i < limit; ++i) {
        reader.Read(8 * bytes.size(), bytes.data(), bytes.size());
        const auto& slot = directory.entries.Parse(bytes);
        if (slot.IsEndOfDirectory() || directory.StopsAt(i, slot))
            break;
        if (!slot.IsValid())
            continue;
        directory.entries.Keep(bytes);
        last = i + 1;
    }
    directory.NumberOfEntries.SetValue(directory.entries.Count());
    return uint64_t{last} * 32;
}

// A directory read from any stream at a byte offset.
template <class Directory>
uint64_t ReadDirectoryAt(AAA::Stream& stream, uint64_t offset, Directory& directory) {
    stream.Seek(static_cast<int64_t>(offset), AAA::SeekBegin);
    AAA::BitReader reader(stream);
    return directory.ReadEntries(reader);
}

// A directory read from its clusters gathered in chain order: the slots end
// with the chain, so the read limit shrinks to what the bytes hold.
template <class Directory>
uint64_t ReadDirectoryFromBytes(std::vector<uint8_t> bytes, Directory& directory) {
    const auto slots = static_cast<uint32_t>(std::min<uint64_t>(bytes.size() / 32, UINT32_MAX));
    directory.NumberOfEntries.SetValue(std::min(directory.NumberOfEntries.Value(), slots));
    AAA::MemoryStream memory(std::move(bytes));
    return ReadDirectoryAt(memory, 0, directory);
}

} // namespace FSAccessLib::FatCommon
