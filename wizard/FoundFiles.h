#pragma once
// What a search selected, as the confirmation page tells it: files and bytes
// by kind, how they were found, and the stills and videos it lists, each
// with where its data lies so a preview can read it without the tree.
#include <array>
#include <cstdint>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_WideString.h"
#include "DirEntry.h"

enum class FileKind : int { AvchdVideo, DvClip, Still, Other };
enum class FoundBy : int { Directory, Deleted, FoundFolder, Scan };
constexpr size_t kFileKinds = 4;
constexpr size_t kFoundByWays = 4;

struct FoundFile {
    AAA::WString name;
    uint64_t size = 0;
    FileKind kind = FileKind::Other;
    std::vector<AAA::ByteRange> data; // volume offsets, in file order
};

struct KindTotal {
    int files = 0;
    uint64_t bytes = 0;
};

struct FoundFiles {
    std::array<KindTotal, kFileKinds> kinds{};
    std::array<int, kFoundByWays> foundBy{};
    std::vector<FoundFile> stills; // in walk order
    std::vector<FoundFile> videos; // AVCHD streams and DV clips, in walk order

    const KindTotal& Of(FileKind kind) const { return kinds[static_cast<size_t>(kind)]; }
    int Count(FoundBy way) const { return foundBy[static_cast<size_t>(way)]; }
};

FileKind KindOfName(const AAA::WString& name);
// The selected files (targets that are not folders) under `root`.
FoundFiles CollectFoundFiles(const FSAccessLib::DirEntry& root);
