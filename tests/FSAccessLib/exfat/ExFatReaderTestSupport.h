#pragma once
// Shared pieces of the exFAT reader tests: opening images, raw entry sets, log capture.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "AAA_DebugLog.h"
#include "common/LogCapture.h"
#include "AAA_WideString.h"
#include "FSSpecExFAT.h"
#include "support/ExFatImageBuilder.h"
#include "support/TempDir.h"

namespace ExFatReaderTest {

using FSAccessLib::DirEntry;
using FSAccessLib::ExFAT::FSAccessExFAT;
using TestSupport::ExFat::Slot;

inline std::unique_ptr<FSAccessExFAT> MakeReader(const std::filesystem::path& image) {
    return std::make_unique<FSAccessExFAT>(AAA::FromUtf8(image.string()));
}

// Writes the image, opens it and reads table and root; fails the test if Open refuses.
inline std::unique_ptr<FSAccessExFAT> LoadImage(const TestSupport::ExFatImageBuilder& image,
                                                const TestSupport::TempDir& dir, const std::string& name = "card.img") {
    const auto path = dir / name;
    image.WriteTo(path);
    auto reader = MakeReader(path);
    EXPECT_TRUE(reader->Open());
    reader->ReadAllocationTable();
    reader->ReadRootDirectory();
    return reader;
}

// The tree of an image: root, file count.
struct Tree {
    std::unique_ptr<FSAccessExFAT> reader;
    DirEntry root;
    int files = 0;
};

inline Tree BuildTreeOf(const TestSupport::ExFatImageBuilder& image, const TestSupport::TempDir& dir) {
    Tree tree;
    tree.reader = LoadImage(image, dir);
    tree.files = tree.reader->BuildTree(tree.root);
    return tree;
}

inline const DirEntry* Child(const DirEntry& parent, const std::u16string& name) {
    for (const DirEntry& child : parent.children)
        if (child.name == name)
            return &child;
    return nullptr;
}

// Raw slots of one entry set (checksums are not read by the reader, so left 0).
struct RawSet {
    std::u16string name;
    uint16_t attributes = 0x20;
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
    uint8_t streamFlags = 0x01;
    bool deleted = false;
    int nameLength = -1;     // default: name.size()
    int secondaryCount = -1; // default: 1 + File Name entries
};

inline std::vector<Slot> MakeRawSet(const RawSet& set) {
    using TestSupport::ExFat::PutLe;
    const size_t nameSlots = (set.name.size() + 14) / 15;
    std::vector<Slot> slots(2 + nameSlots, Slot{});
    const uint8_t used = set.deleted ? 0x00 : 0x80;
    Slot& file = slots[0];
    file[0] = 0x05 | used;
    file[1] = static_cast<uint8_t>(set.secondaryCount >= 0 ? set.secondaryCount : 1 + static_cast<int>(nameSlots));
    PutLe<uint16_t>(&file[4], set.attributes);
    Slot& stream = slots[1];
    stream[0] = 0x40 | used;
    stream[1] = set.streamFlags;
    stream[3] = static_cast<uint8_t>(set.nameLength >= 0 ? set.nameLength : static_cast<int>(set.name.size()));
    PutLe<uint64_t>(&stream[8], set.dataLength);
    PutLe<uint32_t>(&stream[20], set.firstCluster);
    PutLe<uint64_t>(&stream[24], set.dataLength);
    for (size_t i = 0; i < nameSlots; ++i) {
        Slot& nameSlot = slots[2 + i];
        nameSlot[0] = 0x41 | used;
        for (size_t u = 0; u < 15 && 15 * i + u < set.name.size(); ++u)
            PutLe<uint16_t>(&nameSlot[2 + 2 * u], set.name[15 * i + u]);
    }
    return slots;
}

inline void AddRawSet(TestSupport::ExFatImageBuilder& image, const std::string& folder, const RawSet& set) {
    for (const Slot& slot : MakeRawSet(set))
        image.AddRawSlot(folder, slot);
}

using KalvoryTest::LogCapture;

} // namespace ExFatReaderTest
