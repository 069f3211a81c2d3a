#pragma once
// The tree of found entries: files and folders from the directories (live or
// deleted) and files carved from raw sectors. Children and extents are held by
// value, so any append may move them; Relink restores the back pointers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_WideString.h"

namespace FSAccessLib {

class Command;
class DirEntry;

// Bytes the copy writes instead of the card's: a file put back together
// around its data (a rebuilt index after it, a corrected header before).
struct RewrittenBytes {
    std::vector<uint8_t> head; // written in place of the data's first head.size() bytes
    std::vector<uint8_t> tail; // written after the data
};

// Deeper entries are neither visited by Apply nor relinked: a damaged card can
// describe a folder inside itself, and the walks must stay bounded.
constexpr size_t kMaxTreeDepth = 4096;

// One extent of file data on the medium.
class DataBlock {
public:
    DataBlock(uint64_t blockStart, uint64_t blockLength, DirEntry* blockOwner)
        : start(blockStart), length(blockLength), owner(blockOwner) {}
    virtual ~DataBlock() = default;

    uint64_t start;        // byte offset from the start of the volume
    uint64_t length;       // bytes
    DirEntry* owner;       // the entry whose chain holds this block (not owned)
};

class DirEntry {
public:
    // The root: an unnamed directory.
    DirEntry();
    // A FAT short name (8 bytes) and extension (3 bytes), blank padded; a first
    // byte 0xE5 marks a deleted slot.
    DirEntry(std::string shortName, std::string shortExtension);
    virtual ~DirEntry() = default;

    DirEntry(const DirEntry&) = default;
    DirEntry& operator=(const DirEntry&) = default;
    DirEntry(DirEntry&&) = default;
    DirEntry& operator=(DirEntry&&) = default;

    // "\"-separated path from the root (whose name is empty).
    AAA::WString FullPath() const;
    // Where the data lies on the card, in file order: the chain's blocks, or
    // `length` bytes from `start` when there is no chain.
    std::vector<AAA::ByteRange> DataRanges() const;
    // Points every block's owner at this entry, sets parent (when newParent is
    // non-null) and recurses into children. Call with null on the root after appends.
    void Relink(DirEntry* newParent);
    // Executes `command` on every descendant, pre-order; never on this entry.
    void Apply(Command& command);

    AAA::WString name;
    bool deleted = false;
    bool carved = false;
    bool chainBroken = false;
    bool noFatChain = false;
    bool isDirectory = false;
    std::vector<DirEntry> children;
    bool target = false;
    uint64_t start = 0;
    uint64_t length = 0;
    uint32_t firstCluster = 0;
    std::vector<DataBlock> chain;
    DirEntry* parent = nullptr;
    bool dvMarked = false;
    bool holdTail = false;
    // Read from a folder found by the sector search (the folder itself too).
    bool fromFoundFolder = false;
    // The data kept is less than `length`: the rest could not be told apart
    // from foreign data, or lies past the end of an image that ends early.
    bool partial = false;
    // The card no longer allocates its clusters (an exFAT set whose in-use bit
    // is clear; FAT deleted entries carry `deleted`).
    bool unallocated = false;
    // Its data fails its type's check from `matchingBytes` on: the clusters
    // were given to other files after it was deleted.
    bool overwritten = false;
    uint64_t matchingBytes = 0;
    // Its index was rebuilt from its data: `rewritten` holds what is written around the card's bytes.
    bool repaired = false;
    std::shared_ptr<const RewrittenBytes> rewritten;
};

// "." and "..": a folder's slots for itself and its parent, never entries.
inline bool IsDotName(const AAA::WString& name) { return name == u"." || name == u".."; }

// Sets fromFoundFolder on `folder` and everything below it.
void MarkFromFoundFolder(DirEntry& folder);

// Widens a FAT short name to the entry name rules ("FOO     "+"TXT" -> "FOO.TXT");
// returns whether the slot is deleted. Exposed for the readers' own name checks.
AAA::WString ShortNameToWide(std::string shortName, std::string shortExtension, bool* deleted = nullptr);

} // namespace FSAccessLib
