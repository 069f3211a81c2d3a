#pragma once
// How a FAT12/16 or FAT32 directory takes in its 32-byte slots: up to the end
// mark or the count, valid slots kept, and the bytes up to the last one kept.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "AAA_BitReader.h"
#include "AAA_Stream.h"

namespace FSAccessLib::FatCommon {

// Reads up to directory.NumberOfEntries slots into directory.entries, stopping
// at the end mark or where directory.StopsAt says; returns the byte size up
// to the last valid slot and leaves NumberOfEntries at the count kept.
template <class Slot, class Directory>
uint64_t ReadValidSlots(Directory& directory, AAA::BitReader& reader) {
    const uint32_t limit = directory.NumberOfEntries.Value();
    directory.entries.clear();
    uint32_t last = 0;
    Slot slot;
    for (uint32_t i = 0; i < limit; ++i) {
        slot.Read(reader);
        if (slot.IsEndOfDirectory() || directory.StopsAt(i, slot))
            break;
        if (!slot.IsValid())
            continue;
        directory.entries.push_back(slot);
        directory.entries.back().parent = &directory;
        last = i + 1;
    }
    directory.NumberOfEntries.SetValue(directory.entries.size());
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
