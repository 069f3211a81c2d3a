#include "Kalvory_Recover.h"

#include <cwctype>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_Progress.h"
#include "AVCHD_Files.h"
#include "AVCHD_Fragments.h"
#include "DV_Files.h"
#include "FoundFolders.h"
#include "ISOBMFF_Names.h"
#include "Kalvory_CardScan.h"
#include "Picture_Files.h"
#include "SectorSearch.h"
#include "FSSpecExFAT.h"
#include "FSSpecFAT16.h"
#include "FSSpecFAT32.h"
#include "AAA_LogLines.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;
using AAA::WString;

struct NamedRow {
    bool folderRule;
    const char16_t* name;
};

constexpr NamedRow kRootTable[] = {
    {true, u"PRIVATE"}, {true, u"DCIM"}, {true, u"MISC"},
};

constexpr NamedRow kPrivateTable[] = {
    {true, u"QORVALIN"}, {true, u"SBGDVSD"}, {true, u"VIDEO"},    {true, u"ETC"},
    {true, u"AUDIO"},    {true, u"CLIP"},    {true, u"ICON"},     {true, u"AVCHD"},
    {true, u"AVCHDTN"},  {true, u"IISVPL"},  {true, u"BDMV"},     {true, u"CLIPINF"},
    {true, u"PLAYLIST"}, {true, u"STREAM"},  {false, u"INDEX.BDM"}, {false, u"MOVIEOBJ.BDM"},
    {false, u"THUMB.TDT"}, {false, u"THUMB.TID"},
};

// The first row whose kind matches and whose name equals `name` past its first
// character (the character a deletion destroys).
bool RebuildFromTable(const DirEntry& entry, const NamedRow* rows, size_t count, WString& result) {
    if (entry.name.empty())
        return false;
    const AAA::WStringView tail = AAA::WStringView(entry.name).substr(1);
    for (size_t i = 0; i < count; ++i) {
        const AAA::WStringView row(rows[i].name);
        if (rows[i].folderRule == entry.isDirectory && row.substr(1) == tail) {
            result = WString(row);
            return true;
        }
    }
    return false;
}

// Reads a name the way a wide character stream extracts from it.
class NameReader {
public:
    explicit NameReader(const WString& text) : text_(text) {}

    void Skip() {
        if (at_ < text_.size())
            ++at_;
    }
    bool Number(uint32_t& value) {
        SkipSpace();
        uint64_t number = 0;
        size_t digits = 0;
        while (at_ < text_.size() && text_[at_] >= u'0' && text_[at_] <= u'9') {
            number = number * 10 + static_cast<uint64_t>(text_[at_++] - u'0');
            if (number > UINT32_MAX)
                return false;
            ++digits;
        }
        value = static_cast<uint32_t>(number);
        return digits > 0;
    }
    // At most `limit` characters (no limit when 0), stopping at white space.
    bool Word(size_t limit, WString& word) {
        SkipSpace();
        word.clear();
        while (at_ < text_.size() && !IsSpace(text_[at_]) && (limit == 0 || word.size() < limit))
            word.push_back(text_[at_++]);
        return !word.empty();
    }

private:
    static bool IsSpace(char16_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }
    void SkipSpace() {
        while (at_ < text_.size() && IsSpace(text_[at_]))
            ++at_;
    }

    const WString& text_;
    size_t at_ = 0;
};

WString ZeroFilled(uint32_t value, uint32_t width) {
    WString digits = AAA::FromUtf8(std::to_string(value));
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), u'0');
    return digits;
}

uint32_t PowerOfTen(uint32_t exponent) {
    uint32_t value = 1;
    while (exponent-- > 0)
        value *= 10;
    return value;
}

bool TryDcfRule(const DirEntry& entry, const FSAccessLib::EntryNameRule& rule, WString& result) {
    NameReader reader(entry.name);
    uint32_t number1 = 0;
    uint32_t number2 = 0;
    WString text;
    if (rule.width1 != 0) {
        reader.Skip();
        if (!reader.Number(number1) || !reader.Word(rule.prefix.size(), text))
            return false;
        const uint32_t unit = PowerOfTen(rule.width1 - 1);
        number1 += unit * (rule.min1 / unit); // the lost leading digit
    } else {
        if (!reader.Word(rule.prefix.size(), text))
            return false;
        if (!rule.prefix.empty())
            text[0] = rule.prefix[0];
    }
    if (rule.width2 != 0 && !reader.Number(number2))
        return false;
    WString rest;
    reader.Word(0, rest);
    const bool matches = rule.min1 <= number1 && number1 <= rule.max1 && text == rule.prefix &&
                         rule.min2 <= number2 && number2 <= rule.max2 && rest == rule.suffix;
    if (!matches)
        return false;
    result.clear();
    if (rule.width1 != 0)
        result += ZeroFilled(number1, rule.width1);
    result += rule.prefix;
    if (rule.width2 != 0)
        result += ZeroFilled(number2, rule.width2);
    result += rule.suffix;
    return true;
}

bool RebuildDcf(const DirEntry& entry, WString& result) {
    for (const FSAccessLib::EntryNameRule& rule : FSAccessLib::DcfRuleTable()) {
        if (rule.folderRule == entry.isDirectory && TryDcfRule(entry, rule, result))
            return true;
    }
    return false;
}

} // namespace

KalvoryBase::KalvoryBase(const WString& devicePath, const VolumeChoice& choice) : devicePath_(devicePath) {
    reader_ = OpenVolume(devicePath_, choice, layout_);
}

KalvoryBase::~KalvoryBase() = default;

void KalvoryBase::SearchDirectories(FSAccessLib::CommandDisplay& display) {
    reader_->ReadAllocationTable();
    reader_->ReadRootDirectory();
    AAA::DebugLog(7, "---DirSearch---\n");
    reader_->BuildTree(root_);
    AAA::DebugLog(7, "---foundTree---\n");
    root_.Apply(display);
    AAA::DebugLog(7, "---RenameDeleted---\n");
    CommandRenameDeleted rename;
    root_.Apply(rename);
}

int Kalvory_Directory::Verify() {
    FSAccessLib::CommandDisplay display;
    SearchDirectories(display);
    JudgeFreedData();
    AAA::DebugLog(7, "---SlectAll---\n");
    FSAccessLib::CommandSlectAll selectAll;
    root_.Apply(selectAll);
    CommandLeaveOutOverwritten leaveOut(overwrittenFiles_);
    root_.Apply(leaveOut);
    targetCount_ = selectAll.count - leaveOut.leftOut;
    AAA::DebugLog(7, "---ListUp---\n");
    root_.Apply(display);
    return targetCount_;
}

int Kalvory_Sector::Verify() {
    reader_->ReadAllocationTable();
    reader_->ReadRootDirectory();
    AAA::DebugLog(7, "---SectorSearch---\n");
    ScanCard(*reader_, root_, layout_, FoundFolders::Ignore);
    FSAccessLib::CommandDisplay display;
    return SelectRenameAndCount(display);
}

namespace {

// Whether anything at or below `entry` will be written. The renaming steps
// make their folders whether or not they file anything into them; a made
// folder left empty is not written.
bool Writes(DirEntry& entry, size_t depth) {
    if (!entry.isDirectory)
        return entry.target;
    bool below = false;
    if (depth < FSAccessLib::kMaxTreeDepth)
        for (DirEntry& child : entry.children)
            below = Writes(child, depth + 1) || below;
    if (entry.carved && !below)
        entry.target = false;
    return below || entry.target;
}

} // namespace

int Kalvory_Sector::SelectRenameAndCount(FSAccessLib::CommandDisplay& display) {
    AAA::DebugLog(7, "---SlectTarget---\n");
    CommandSlectTarget select(reader_->stream.get());
    root_.Apply(select);
    CommandLeaveOutOverwritten leaveOut(overwrittenFiles_);
    root_.Apply(leaveOut);
    AAA::DebugLog(7, "---RenameFormattedDvFiles---\n");
    RenameFormattedDvFiles(root_);
    AAA::DebugLog(7, "---RenameAndMoveAvchdFiles---\n");
    RenameAndMoveAvchdFiles(root_);
    AAA::DebugLog(7, "---RenameAndMoveIsoMediaFiles---\n");
    partialStreams_ += RenameAndMoveIsoMediaFiles(*reader_->stream, *reader_, root_).partial;
    AAA::DebugLog(7, "---RenameAndMoveDcimFiles---\n");
    unplacedPictures_ = RenameAndMoveDcimFiles(root_);
    for (DirEntry& child : root_.children)
        Writes(child, 1);
    AAA::DebugLog(7, "---ListUp---\n");
    FSAccessLib::CommandCountTarget count;
    root_.Apply(count);
    targetCount_ = count.count;
    CountFoundAfterFormat();
    root_.Apply(display);
    return targetCount_;
}

void Kalvory_Sector::CountFoundAfterFormat() {
    class CommandCountOrigins : public FSAccessLib::Command {
    public:
        void Execute(DirEntry& entry) override {
            if (!entry.target || entry.isDirectory)
                return;
            foundFolder += entry.fromFoundFolder ? 1 : 0;
            carved += entry.carved && !entry.fromFoundFolder ? 1 : 0;
        }
        int foundFolder = 0;
        int carved = 0;
    } origins;
    root_.Apply(origins);
    foundFolderFiles_ = origins.foundFolder;
    carvedFiles_ = origins.carved;
}

void CommandRenameFoundDeleted::Execute(DirEntry& entry) {
    if (entry.fromFoundFolder)
        CommandRenameDeleted::Execute(entry);
}

int Kalvory_DirAndSector::Verify() {
    FSAccessLib::CommandDisplay display;
    SearchDirectories(display);
    AAA::DebugLog(7, "---SectorSearch---\n");
    ScanCard(*reader_, root_, layout_, FoundFolders::Read);
    AAA::DebugLog(7, "---FoundFolders---\n");
    RebuildFoundFolders(root_);
    CommandRenameFoundDeleted renameFound;
    root_.Apply(renameFound);
    JudgeFreedData();
    return SelectRenameAndCount(display);
}

namespace {

bool Contains(const WString& name, const char16_t* part) { return name.find(part) != WString::npos; }

// A camcorder keeps each clip's thumbnail in M4ROOT/THMBNL, beside CLIP.
bool IsClipThumbnail(const DirEntry& entry) {
    const DirEntry* folder = entry.parent;
    return folder != nullptr && folder->name == u"THMBNL" && folder->parent != nullptr && folder->parent->name == u"M4ROOT";
}

bool Selected(const DirEntry& entry, AAA::Stream* source) {
    // A mode that adds the scan never gives back less than the directories.
    if (!entry.carved && !entry.fromFoundFolder)
        return true;
    if (Contains(entry.name, u".XM~"))
        return false;
    if (!entry.isDirectory && entry.length == 0 && !Contains(entry.name, u"THUMB.TDT"))
        return false; // empty files are dropped, but the thumbnail table
    if (entry.carved && Contains(entry.name, u".MTS") &&
        (source == nullptr || !Kalvory::IsPlausibleMts(*source, entry.start, entry.length)))
        return false;
    if (Contains(entry.name, u".JPG") && !IsInDcfFolder(entry) && !IsClipThumbnail(entry))
        return false;
    return !FSAccessLib::IsDotName(entry.name);
}

} // namespace

void CommandSlectTarget::Execute(DirEntry& entry) {
    entry.target = Selected(entry, source);
    if (entry.target && !entry.isDirectory)
        ++count;
}

WString RebuildDeletedName(const DirEntry& entry) {
    const WString path = entry.FullPath();
    WString result;
    bool rebuilt = false;
    if (path.find(u"\\DCIM\\") != WString::npos)
        rebuilt = RebuildDcf(entry, result);
    else if (path.find(u"\\PRIVATE\\") != WString::npos)
        rebuilt = RebuildFromTable(entry, kPrivateTable, std::size(kPrivateTable), result);
    else
        rebuilt = RebuildFromTable(entry, kRootTable, std::size(kRootTable), result);
    if (rebuilt)
        return result;
    result = entry.name;
    if (!result.empty())
        result[0] = u'0';
    return result;
}

void CommandRenameDeleted::Execute(DirEntry& entry) {
    if (entry.deleted) {
        AAA::DebugLog(7, "Rename: ");
        AAA::DebugLog(7, "%s", entry.name);
        AAA::DebugLog(7, "\t->\t");
        entry.name = RebuildDeletedName(entry);
        AAA::DebugLog(7, "%s", entry.name);
        AAA::DebugLog(7, "\n");
    }
    if (entry.name == u".Trashes")
        entry.name = u"Kalvory.Trashes";
}

std::unique_ptr<KalvoryBase> MakeStrategy(Restore::StrategyType type, const WString& devicePath, const VolumeChoice& choice) {
    switch (type) {
    case Restore::StrategyType::Directory:
        return std::make_unique<Kalvory_Directory>(devicePath, choice);
    case Restore::StrategyType::DirAndSector:
        return std::make_unique<Kalvory_DirAndSector>(devicePath, choice);
    case Restore::StrategyType::Sector:
        return std::make_unique<Kalvory_Sector>(devicePath, choice);
    default:
        return std::make_unique<KalvoryBase>(devicePath, choice);
    }
}

} // namespace Kalvory
