#pragma once
// What the fuzz targets share: the input as a source the readers open by path
// (an anonymous memory file, rewritten for every input), and the run of a
// reader or a whole verification over it. Failures the engine reports as its
// own exceptions are expected answers to bad input; anything else (another
// exception, a sanitizer report) is a finding.
#include <cstddef>
#include <cstdint>

#include "AAA_WideString.h"
#include "FSAccessBase.h"

namespace KalvoryFuzz {

class FuzzSource {
public:
    FuzzSource();
    ~FuzzSource();
    FuzzSource(const FuzzSource&) = delete;
    FuzzSource& operator=(const FuzzSource&) = delete;

    // Replaces the contents with the input; the path opens them.
    const AAA::WString& Load(const uint8_t* data, size_t size);

private:
    int fd_ = -1;
    AAA::WString path_;
};

// The source every target of this process writes into.
FuzzSource& SharedSource();

// Open, table, root directory and the walk, as the directory search runs them.
void WalkVolume(FSAccessLib::FSAccessBase& reader);

// The directory and sector search over the input, as a recovery verifies a card.
void VerifyCard(const AAA::WString& path);

} // namespace KalvoryFuzz
