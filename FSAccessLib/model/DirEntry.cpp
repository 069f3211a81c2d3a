#include "DirEntry.h"

#include <algorithm>

#include "AAA_DebugLog.h"
#include "Commands.h"

namespace FSAccessLib {
namespace {

std::string CutAtBlank(const std::string& text) {
    return text.substr(0, text.find(' '));
}

void LogDepthLimit(const char* walk) {
    AAA::DebugLog(3, "%S: tree deeper than %d levels; deeper entries are skipped\n", walk,
                  static_cast<int>(kMaxTreeDepth));
}

} // namespace


AAA::WString ShortNameToWide(std::string shortName, std::string shortExtension, bool* deleted) {
    const bool isDeleted = !shortName.empty() && static_cast<uint8_t>(shortName[0]) == 0xE5;
    if (isDeleted)
        shortName[0] = '!';
    if (deleted)
        *deleted = isDeleted;
    std::string narrow = CutAtBlank(shortName);
    const std::string extension = CutAtBlank(shortExtension);
    if (narrow.empty())
        return {};
    if (!extension.empty())
        narrow += "." + extension;
    AAA::WString wide;
    wide.reserve(narrow.size());
    for (const char c : narrow) {
        // Sign extension, as the card's code page is not known: 0x82 -> 0xFF82.
        const auto b = static_cast<uint8_t>(c);
        wide.push_back(static_cast<char16_t>(b < 0x80 ? b : 0xFF00 + b));
    }
    return wide;
}

DirEntry::DirEntry() : isDirectory(true) {}

DirEntry::DirEntry(std::string shortName, std::string shortExtension) {
    name = ShortNameToWide(std::move(shortName), std::move(shortExtension), &deleted);
}

std::vector<AAA::ByteRange> DirEntry::DataRanges() const {
    if (chain.empty())
        return {{start, length}};
    std::vector<AAA::ByteRange> ranges;
    ranges.reserve(chain.size());
    for (const DataBlock& block : chain)
        ranges.push_back({block.start, block.length});
    return ranges;
}

AAA::WString DirEntry::FullPath() const {
    std::vector<const DirEntry*> lineage;
    for (const DirEntry* e = this; e != nullptr; e = e->parent)
        lineage.push_back(e);
    AAA::WString path = lineage.back()->name;
    for (size_t i = lineage.size() - 1; i-- > 0;) {
        path += u'\\';
        path += lineage[i]->name;
    }
    return path;
}

void DirEntry::Relink(DirEntry* newParent) {
    if (newParent != nullptr)
        parent = newParent;
    struct Frame {
        DirEntry* entry;
        size_t depth;
    };
    std::vector<Frame> pending{{this, 0}};
    bool reported = false;
    while (!pending.empty()) {
        const Frame frame = pending.back();
        pending.pop_back();
        DirEntry& entry = *frame.entry;
        for (DataBlock& block : entry.chain)
            block.owner = &entry;
        if (!entry.isDirectory || entry.children.empty())
            continue;
        if (frame.depth >= kMaxTreeDepth) {
            if (!reported)
                LogDepthLimit("Relink");
            reported = true;
            continue;
        }
        for (DirEntry& child : entry.children) {
            child.parent = &entry;
            pending.push_back({&child, frame.depth + 1});
        }
    }
}

void DirEntry::Apply(Command& command) {
    if (!isDirectory)
        return;
    struct Frame {
        DirEntry* folder;
        size_t next;
    };
    // The stack holds one frame per level, so its size is the depth of the
    // children being visited.
    std::vector<Frame> stack{{this, 0}};
    bool reported = false;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.folder->children.size()) {
            stack.pop_back();
            continue;
        }
        DirEntry& child = frame.folder->children[frame.next++];
        command.Execute(child);
        if (!child.isDirectory || child.children.empty())
            continue;
        if (stack.size() >= kMaxTreeDepth) {
            if (!reported)
                LogDepthLimit("Apply");
            reported = true;
            continue;
        }
        stack.push_back({&child, 0});
    }
}

void MarkFromFoundFolder(DirEntry& folder) {
    std::vector<std::pair<DirEntry*, size_t>> pending{{&folder, 0}};
    while (!pending.empty()) {
        auto [entry, depth] = pending.back();
        pending.pop_back();
        entry->fromFoundFolder = true;
        if (depth < kMaxTreeDepth)
            for (DirEntry& child : entry->children)
                pending.emplace_back(&child, depth + 1);
    }
}

} // namespace FSAccessLib
