#pragma once
// Everything done with the tree after it is built is a Command executed on each
// entry by DirEntry::Apply. Commands may change flags and names, never add or
// remove entries; pointers they return stay valid until the next append.
#include <cstdint>
#include <vector>

#include "AAA_FileStream.h"
#include "AAA_WideString.h"
#include "DirEntry.h"

namespace FSAccessLib {

class Command {
public:
    virtual ~Command() = default;
    virtual void Execute(DirEntry& entry) = 0;
};

// Logs targets (or every entry with displayAll) at level 7.
class CommandDisplayTarget : public Command {
public:
    explicit CommandDisplayTarget(bool all = false) : displayAll(all) {}
    void Execute(DirEntry& entry) override;
    bool displayAll;
};

class CommandDisplay : public CommandDisplayTarget {
public:
    CommandDisplay() : CommandDisplayTarget(true) {}
};

// Last entry with the probe's name, start and length.
class CommandSearchExistingEntry : public Command {
public:
    explicit CommandSearchExistingEntry(DirEntry* probeEntry) : probe(probeEntry) {}
    void Execute(DirEntry& entry) override;
    DirEntry* probe;
    DirEntry* found = nullptr;
};

// The entry whose extent covering `position` reaches furthest (first in walk
// order on a tie); foundEnd stays `position` when nothing covers it.
class CommandSearchExistingDataBlock : public Command {
public:
    explicit CommandSearchExistingDataBlock(uint64_t searchPosition)
        : position(searchPosition), foundEnd(searchPosition) {}
    void Execute(DirEntry& entry) override;
    uint64_t position;
    DirEntry* found = nullptr;
    uint64_t foundEnd;
};

// Every entry whose start equals `address`, in walk order.
class CommandSearchExistingAddr2 : public Command {
public:
    explicit CommandSearchExistingAddr2(uint64_t startAddress) : address(startAddress) {}
    void Execute(DirEntry& entry) override;
    uint64_t address;
    std::vector<DirEntry*> matches;
};

// Last entry whose whole name equals `wanted` (case-sensitive).
class CommandSearchExistingName : public Command {
public:
    explicit CommandSearchExistingName(AAA::WString text) : wanted(std::move(text)) {}
    void Execute(DirEntry& entry) override;
    AAA::WString wanted;
    DirEntry* found = nullptr;
};

// Last entry whose name contains `wanted` (case-sensitive; empty matches all).
class CommandSearchExistingNamePart : public Command {
public:
    explicit CommandSearchExistingNamePart(AAA::WString text) : wanted(std::move(text)) {}
    void Execute(DirEntry& entry) override;
    AAA::WString wanted;
    DirEntry* found = nullptr;
};

// Selects everything; counts the files.
class CommandSlectAll : public Command {
public:
    void Execute(DirEntry& entry) override;
    int count = 0;
};

// Counts targets, folders included.
class CommandCountTarget : public Command {
public:
    void Execute(DirEntry& entry) override;
    int count = 0;
};

// Sums the lengths of target files.
class CommandTotalFileLength : public Command {
public:
    void Execute(DirEntry& entry) override;
    uint64_t total = 0;
};

} // namespace FSAccessLib

