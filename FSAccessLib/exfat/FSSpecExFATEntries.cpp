#include "FSSpecExFATEntries.h"

#include <algorithm>
#include <cstring>

namespace FSAccessLib::ExFAT {
namespace {

bool IsLittleEndian(const AAA::FieldBase& field) { return std::strcmp(field.Kind(), "LE") == 0; }

// Slot of the class cache below for each class MakeDirectoryEntry can make.
size_t ClassIndex(uint8_t typeCode) {
    switch (typeCode | kInUseBit) {
    case kTypeAllocationBitmap: return 1;
    case kTypeUpCaseTable: return 2;
    case kTypeVolumeLabel: return 3;
    case kTypeFile: return 4;
    case kTypeVolumeGuid: return 5;
    case kTypeStreamExtension: return 6;
    case kTypeFileName: return 7;
    case kTypeVendorExtension: return 8;
    case kTypeVendorAllocation: return 9;
    default: return 0;
    }
}
constexpr size_t kClassCount = 10;

} // namespace

// ---- DirectoryEntry ---------------------------------------------------------------

DirectoryEntry::DirectoryEntry(std::string blockName) : AAA::Block(std::move(blockName)) {
    EXFAT_ENTRY_LAYOUT(AAA_LAYOUT_WIDTH)
    DirectoryEntry::Link();
    ZeroOutsideLayout();
}

void DirectoryEntry::Link() {
    SetMembers({EXFAT_ENTRY_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
    for (AAA::FieldBase* field : AllFields())
        field->parent = this;
}

std::vector<AAA::FieldBase*> DirectoryEntry::AllFields() {
    return {EXFAT_ENTRY_FIELDS(EXFAT_ENTRY_FIELD_ADDRESS)};
}

void DirectoryEntry::ZeroOutsideLayout() {
    const auto& layout = Members();
    for (AAA::FieldBase* field : AllFields()) {
        if (field->Data().empty() || std::find(layout.begin(), layout.end(), field) != layout.end())
            continue;
        const std::vector<uint8_t> zeros(field->Data().size(), 0);
        field->AssignRead(zeros.data(), zeros.size(), -1);
    }
}

void DirectoryEntry::Read(AAA::BitReader& reader) {
    ReadEntryType(reader);
    ReadBody(reader);
}

void DirectoryEntry::ReadEntryType(AAA::BitReader& reader) { EntryType.Read(reader); }

void DirectoryEntry::ReadBody(AAA::BitReader& reader) {
    const auto& layout = Members();
    for (size_t i = 1; i < layout.size(); ++i)
        layout[i]->Read(reader);
}

SlotBytes DirectoryEntry::ToSlotBytes() const {
    SlotBytes slot{};
    size_t at = 0;
    for (const AAA::Element* member : Members()) {
        const auto& field = static_cast<const AAA::FieldBase&>(*member);
        std::vector<uint8_t> bytes = field.Data();
        if (IsLittleEndian(field))
            std::reverse(bytes.begin(), bytes.end());
        const size_t n = std::min(bytes.size(), slot.size() - at);
        std::copy_n(bytes.begin(), n, slot.begin() + static_cast<std::ptrdiff_t>(at));
        at += n;
    }
    return slot;
}

void DirectoryEntry::LoadSlotBytes(const SlotBytes& slot) {
    size_t at = 0;
    uint8_t bytes[32];
    for (AAA::Element* member : Members()) {
        auto& field = static_cast<AAA::FieldBase&>(*member);
        const size_t n = std::min(field.Data().size(), slot.size() - at);
        std::copy_n(slot.begin() + static_cast<std::ptrdiff_t>(at), n, bytes);
        if (IsLittleEndian(field))
            std::reverse(bytes, bytes + n);
        field.AssignRead(bytes, n, static_cast<int64_t>(at * 8));
        at += n;
    }
}

// ---- Templates and layouts ----------------------------------------------------------

GenericPrimaryDirectoryEntryTemplate::GenericPrimaryDirectoryEntryTemplate(std::string blockName)
    : DirectoryEntry(std::move(blockName)) {
    EXFAT_PRIMARY_ENTRY_LAYOUT(AAA_LAYOUT_WIDTH)
    GenericPrimaryDirectoryEntryTemplate::Link();
    ZeroOutsideLayout();
}

void GenericPrimaryDirectoryEntryTemplate::Link() {
    SetMembers({EXFAT_PRIMARY_ENTRY_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

GenericSecondaryDirectoryEntryTemplate::GenericSecondaryDirectoryEntryTemplate(std::string blockName)
    : DirectoryEntry(std::move(blockName)) {
    EXFAT_SECONDARY_ENTRY_LAYOUT(AAA_LAYOUT_WIDTH)
    GenericSecondaryDirectoryEntryTemplate::Link();
    ZeroOutsideLayout();
}

void GenericSecondaryDirectoryEntryTemplate::Link() {
    SetMembers({EXFAT_SECONDARY_ENTRY_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

VolumeLabelDirectoryEntry::VolumeLabelDirectoryEntry()
    : GenericPrimaryDirectoryEntryTemplate("VolumeLabelDirectoryEntry") {
    EXFAT_VOLUME_LABEL_ENTRY_LAYOUT(AAA_LAYOUT_WIDTH)
    VolumeLabelDirectoryEntry::Link();
    ZeroOutsideLayout();
}

void VolumeLabelDirectoryEntry::Link() {
    SetMembers({EXFAT_VOLUME_LABEL_ENTRY_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

FileDirectoryEntry::FileDirectoryEntry() : GenericPrimaryDirectoryEntryTemplate("FileDirectoryEntry") {
    EXFAT_FILE_ENTRY_LAYOUT(AAA_LAYOUT_WIDTH)
    FileDirectoryEntry::Link();
    ZeroOutsideLayout();
}

void FileDirectoryEntry::Link() {
    SetMembers({EXFAT_FILE_ENTRY_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

StreamExtensionDirectoryEntry::StreamExtensionDirectoryEntry()
    : GenericSecondaryDirectoryEntryTemplate("StreamExtensionDirectoryEntry") {
    EXFAT_STREAM_EXTENSION_ENTRY_LAYOUT(AAA_LAYOUT_WIDTH)
    StreamExtensionDirectoryEntry::Link();
    ZeroOutsideLayout();
}

void StreamExtensionDirectoryEntry::Link() {
    SetMembers({EXFAT_STREAM_EXTENSION_ENTRY_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

FileNameDirectoryEntry::FileNameDirectoryEntry() : GenericSecondaryDirectoryEntryTemplate("FileNameDirectoryEntry") {
    EXFAT_FILE_NAME_ENTRY_LAYOUT(AAA_LAYOUT_WIDTH)
    FileNameDirectoryEntry::Link();
    ZeroOutsideLayout();
}

void FileNameDirectoryEntry::Link() {
    SetMembers({EXFAT_FILE_NAME_ENTRY_LAYOUT(AAA_LAYOUT_ADDRESS)});
    AAA::Block::Link();
}

std::unique_ptr<DirectoryEntry> MakeDirectoryEntry(uint8_t typeCode) {
    switch (typeCode | kInUseBit) {
    case kTypeAllocationBitmap: return std::make_unique<AllocationBitmapDirectoryEntry>();
    case kTypeUpCaseTable: return std::make_unique<UpCaseTableDirectoryEntry>();
    case kTypeVolumeLabel: return std::make_unique<VolumeLabelDirectoryEntry>();
    case kTypeFile: return std::make_unique<FileDirectoryEntry>();
    case kTypeVolumeGuid: return std::make_unique<VolumeGUIDDirectoryEntry>();
    case kTypeStreamExtension: return std::make_unique<StreamExtensionDirectoryEntry>();
    case kTypeFileName: return std::make_unique<FileNameDirectoryEntry>();
    case kTypeVendorExtension: return std::make_unique<VendorExtensionDirectoryEntry>();
    case kTypeVendorAllocation: return std::make_unique<VendorAllocationDirectoryEntry>();
    default: return std::make_unique<DirectoryEntry>();
    }
}

// ---- Directory ------------------------------------------------------------------------

Directory::Directory(std::string blockName) : AAA::Block(std::move(blockName)), classCache_(kClassCount) {
    Directory::Link();
    ResetReadLimit();
}

void Directory::ResetReadLimit() {
    static_assert(kReadLimit == 0x10000);
    const uint8_t limit[4] = {0x00, 0x01, 0x00, 0x00}; // most significant byte first
    NumberOfEntries.AssignRead(limit, sizeof limit, -1);
}

Directory::~Directory() = default;

void Directory::Link() {
    SetMembers({}); // nothing of the record itself is on disk
    AAA::Block::Link();
    NumberOfEntries.parent = this;
}

int Directory::BitLength() const { return static_cast<int>(stored_.size() * sizeof(SlotBytes) * 8); }

void Directory::Read(AAA::BitReader& reader) {
    stored_.clear();
    readPosition = 0;
    const uint32_t limit = NumberOfEntries.Value();
    // One record per class, reused slot after slot: a directory can hold 65536 slots.
    DirectoryEntry probe;
    uint32_t last = 0;
    for (uint32_t i = 0; i < limit; ++i) {
        probe.ReadEntryType(reader);
        const auto typeCode = static_cast<uint8_t>(probe.EntryType.Value());
        if (typeCode == kTypeEndOfDirectory)
            break;
        auto& slotRecord = classCache_[ClassIndex(typeCode)];
        if (!slotRecord)
            slotRecord = MakeDirectoryEntry(typeCode);
        slotRecord->EntryType = probe.EntryType;
        slotRecord->ReadBody(reader);
        if (slotRecord->IsValid()) {
            stored_.push_back(slotRecord->ToSlotBytes());
            last = i + 1;
        }
    }
    NumberOfEntries.SetValue(last);
}

const DirectoryEntry& Directory::Entry(size_t index) const {
    const SlotBytes& slot = stored_.at(index);
    auto& record = classCache_[ClassIndex(slot[0])];
    if (!record)
        record = MakeDirectoryEntry(slot[0]);
    record->LoadSlotBytes(slot);
    return *record;
}

} // namespace FSAccessLib::ExFAT
