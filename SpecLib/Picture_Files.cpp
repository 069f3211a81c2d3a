#include "Picture_Files.h"

#include <array>
#include <cstring>
#include <unordered_map>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "ContentJudge.h"
#include "ISOBMFF_Names.h"
#include "TreeFolders.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

constexpr const char* kSourceFile = "SpecLib/Picture_Files";
constexpr uint64_t kLongestJpeg = uint64_t{1} << 32;
constexpr uint32_t kScanBlock = 32768;

// Reads the picture from `start` on, a block at a time, so that the walk's
// byte-wise reads cost no call each. Every refill seeks, which moves the
// progress and lets a cancel through.
class JpegReader {
public:
    JpegReader(AAA::Stream& stream, uint64_t start) : stream_(stream), start_(start) {}

    // The byte at `position` (relative to the start); false past the medium
    // or past the longest picture taken.
    bool ByteAt(uint64_t position, uint8_t& byte) {
        if (position >= kLongestJpeg)
            return false;
        if (position < blockStart_ || position >= blockStart_ + blockBytes_ || blockBytes_ == 0) {
            blockStart_ = position;
            stream_.Seek(static_cast<int64_t>(start_ + position), AAA::SeekBegin);
            blockBytes_ = stream_.Read(block_.data(), kScanBlock);
            if (blockBytes_ == 0)
                return false;
        }
        byte = block_[position - blockStart_];
        return true;
    }
    // The next 0xFF at or after `position`, searched through whole blocks.
    bool NextFF(uint64_t& position) {
        for (uint8_t byte = 0;;) {
            if (!ByteAt(position, byte))
                return false;
            const size_t at = position - blockStart_;
            const void* found = std::memchr(block_.data() + at, 0xFF, blockBytes_ - at);
            if (found != nullptr) {
                position = blockStart_ + (static_cast<const uint8_t*>(found) - block_.data());
                return true;
            }
            position = blockStart_ + blockBytes_;
        }
    }

private:
    AAA::Stream& stream_;
    uint64_t start_;
    std::array<uint8_t, kScanBlock> block_{};
    uint64_t blockStart_ = 0;
    uint32_t blockBytes_ = 0;
};

uint64_t Broken(const char* text) {
    AAA::DebugLog(7, "%S", text);
    return 0;
}

bool IsRestart(uint8_t code) { return code >= 0xD0 && code <= 0xD7; }

// After a start of scan: the offset of the first 0xFF that begins a marker.
// Restart markers in their order (D0, D1, ... D7, D0 ...) move `confirmed`
// on; one out of order ends the confirming (`confirmed` becomes null).
bool SkipEntropyCodedData(JpegReader& reader, uint64_t& position, uint64_t*& confirmed) {
    uint8_t nextRestart = 0xD0;
    for (;;) {
        if (!reader.NextFF(position))
            return false;
        uint8_t next = 0;
        if (!reader.ByteAt(position + 1, next))
            return false;
        if (next != 0x00 && !IsRestart(next))
            return true;
        if (IsRestart(next) && confirmed != nullptr) {
            if (next == nextRestart)
                *confirmed = position;
            else
                confirmed = nullptr;
            nextRestart = static_cast<uint8_t>(0xD0 + (next - 0xD0 + 1) % 8);
        }
        position += 2;
    }
}

bool HasExifHeader(AAA::Stream& stream, uint64_t start) {
    uint8_t head[11] = {};
    stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
    return stream.Read(head, sizeof head) == sizeof head && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF &&
           head[3] == 0xE1 && std::memcmp(head + 6, "Exif", 4) == 0 && head[10] == 0;
}

} // namespace

uint64_t CheckAsJpeg(AAA::Stream& stream, uint64_t start) {
    if (!HasExifHeader(stream, start))
        return 0;
    AAA::DebugLog(7, "CheckAsJpeg(0x%016I64X) segment =", start);
    return WalkJpegMarkers(stream, start);
}

uint64_t WalkJpegMarkers(AAA::Stream& stream, uint64_t start, uint64_t* confirmed) {
    JpegReader reader(stream, start);
    uint64_t position = 2;
    if (confirmed != nullptr)
        *confirmed = 0;
    for (;;) {
        const uint64_t marker = position;
        uint8_t byte = 0;
        if (!reader.ByteAt(position, byte))
            return Broken("BROKEN JPEG\n");
        if (byte != 0xFF)
            return Broken("BROKEN JPEG (Not Marker)\n");
        while (byte == 0xFF) // fill bytes before the code
            if (!reader.ByteAt(++position, byte))
                return Broken("BROKEN JPEG\n");
        const uint8_t code = byte;
        ++position;
        AAA::DebugLog(7, " %02X", code);
        if (IsRestart(code) || code == 0x01) {
            if (confirmed != nullptr)
                *confirmed = marker;
            continue;
        }
        if (code == 0xD9) {
            AAA::DebugLog(7, "\n");
            return position;
        }
        if (!((code >= 0xC0 && code <= 0xCF) || code >= 0xDA))
            return Broken("BROKEN JPEG\n");
        uint8_t high = 0, low = 0;
        if (!reader.ByteAt(position, high) || !reader.ByteAt(position + 1, low))
            return Broken("BROKEN JPEG\n");
        const uint32_t length = uint32_t{high} << 8 | low;
        if (length < 2) // would leave the walk where it is, or move it back
            return Broken("BROKEN JPEG\n");
        if (confirmed != nullptr)
            *confirmed = marker;
        position += length;
        if (code == 0xDA && !SkipEntropyCodedData(reader, position, confirmed))
            return Broken("BROKEN JPEG\n");
    }
}

bool IsInDcfFolder(const DirEntry& entry) {
    const AAA::WString path = entry.FullPath();
    for (const FSAccessLib::EntryNameRule& rule : FSAccessLib::DcfRuleTable())
        if (rule.folderRule && path.find(rule.prefix) != AAA::WString::npos)
            return true;
    return false;
}

DirEntry* MakeNumberedFolder(uint32_t& counter, DirEntry& parent, const FSAccessLib::EntryNameRule& rule) {
    const AAA::WString name = FirstFreeName(rule, counter, ChildNames(parent));
    if (name.empty())
        return nullptr;
    DirEntry folder;
    folder.name = name;
    folder.isDirectory = rule.folderRule;
    folder.carved = true;
    folder.target = true;
    parent.children.push_back(std::move(folder));
    return &parent.children.back();
}

namespace {

bool Contains(const AAA::WString& name, const char16_t* part) { return name.find(part) != AAA::WString::npos; }

// Where the carved pictures go: numbered folders under DCIM, 9,999 pictures each.
class DcfFiling {
public:
    explicit DcfFiling(DirEntry& dcim) : dcim_(dcim) {}

    // A copy of `picture` under its DCF name in the current folder, the
    // picture itself unselected; false when no folder can be made.
    bool File(DirEntry& picture) {
        if (current_ == nullptr && !NextFolder())
            return false;
        const auto& fileRule = FSAccessLib::DcfRuleTable()[FSAccessLib::kDcfFileRuleRow];
        const size_t dot = picture.name.rfind(u'.');
        const AAA::WString extension = dot == AAA::WString::npos ? AAA::WString() : picture.name.substr(dot);
        picture.name = FSAccessLib::NewEntry(fileRule, 2, nullptr, &fileNumber_);
        if (IsIsoMediaName(extension))
            picture.name = NameStem(picture.name) + extension;
        picture.target = true;
        current_->children.push_back(picture);
        picture.target = false;
        last_ = current_;
        lastStem_ = NameStem(picture.name);
        if (++fileNumber_ > fileRule.max2) {
            fileNumber_ = fileRule.min2;
            current_ = nullptr;
        }
        return true;
    }

    // A copy of `companion` beside the file filed last, under its number.
    void FileBeside(DirEntry& companion) {
        if (last_ == nullptr)
            return;
        DirEntry copy = companion;
        copy.name = lastStem_ + u"." + UpperExtension(companion.name);
        copy.target = true;
        last_->children.push_back(std::move(copy));
    }

private:
    // Only folder rules 1 and 2 make folders; rule 3 only marks DCF folders.
    bool NextFolder() {
        const auto& rules = FSAccessLib::DcfRuleTable();
        for (; ruleIndex_ < 2; folderNumber_ = ++ruleIndex_ < 2 ? rules[ruleIndex_].min1 : 0) {
            current_ = MakeNumberedFolder(folderNumber_, dcim_, rules[ruleIndex_]);
            ++folderNumber_;
            if (current_ != nullptr)
                return true;
        }
        return false;
    }

    DirEntry& dcim_;
    DirEntry* current_ = nullptr; // stays valid until the next folder is made
    DirEntry* last_ = nullptr;    // likewise
    AAA::WString lastStem_;
    size_t ruleIndex_ = 0;
    uint32_t folderNumber_ = FSAccessLib::DcfRuleTable()[0].min1;
    uint32_t fileNumber_ = FSAccessLib::DcfRuleTable()[FSAccessLib::kDcfFileRuleRow].min2;
};

// A clip's thumbnail and low-resolution copy: they bear the clip's carved
// name when the clip step found them after it.
bool IsCompanion(const DirEntry& entry) {
    const AAA::WString extension = UpperExtension(entry.name);
    return entry.carved && !entry.isDirectory && (extension == u"THM" || extension == u"LRV");
}

// The root's companions by their name without its extension.
std::unordered_multimap<AAA::WString, size_t> Companions(DirEntry& root) {
    std::unordered_multimap<AAA::WString, size_t> companions;
    for (size_t i = 0; i < root.children.size(); ++i) {
        DirEntry& entry = root.children[i];
        if (IsCompanion(entry)) {
            companions.emplace(NameStem(entry.name), i);
            entry.target = false; // copied beside its clip, or nowhere
        }
    }
    return companions;
}

} // namespace

int RenameAndMoveDcimFiles(DirEntry& root) {
    DirEntry* dcim = FindOrMakeFolder(root, u"DCIM", u"");
    if (dcim == nullptr)
        AAA::ThrowLogged<AAA::InvalidDataException>(kSourceFile, __LINE__, "AAA::InvalidDataException()");
    DcfFiling filing(*dcim);
    int unplaced = 0;
    const auto companions = Companions(root);
    const size_t children = root.children.size();
    for (size_t i = 0; i < children; ++i) {
        DirEntry& entry = root.children[i];
        if (!entry.carved || entry.isDirectory || IsCompanion(entry))
            continue;
        // Clips go with the stills, numbered among them, keeping their extension;
        // one the clip step unselected or filed elsewhere stays out.
        const bool clip = IsIsoMediaName(entry.name);
        if (clip && !entry.target)
            continue;
        if (!clip && !Contains(entry.name, u"JPG")) {
            // A stream still selected here found no free stream name and is
            // recovered as it is; anything else no step took is not recovered.
            if (!(entry.target && Contains(entry.name, u".MTS")))
                entry.target = false;
            continue;
        }
        // With every folder name taken the pictures stay here; the other
        // carved files after them are still unselected.
        const AAA::WString carvedStem = NameStem(entry.name);
        if (unplaced > 0 || !filing.File(entry)) {
            entry.target = false;
            ++unplaced;
            continue;
        }
        for (auto [at, end] = companions.equal_range(carvedStem); clip && at != end; ++at)
            filing.FileBeside(root.children[at->second]);
    }
    if (unplaced > 0)
        AAA::DebugLog(3, "%d carved pictures found no free DCF folder name under DCIM; they are not recovered\n",
                      unplaced);
    root.Relink(nullptr);
    return unplaced;
}

} // namespace Kalvory
