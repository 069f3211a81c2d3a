#pragma once
// A camera's FAT32 card after a busy day: a folder of stills, every second one
// deleted, then two streams written into the freed clusters hole by hole,
// in turns (so their clusters interleave), and deleted too. The last holes
// stay the deleted stills' own.
#include <cstdint>
#include <map>
#include <string>

#include "support/FatImageBuilder.h"

namespace TestSupport {

struct InterleavedCard {
    FatImage image;
    // What a recovery must give back, by path: the live stills, the deleted
    // stills no stream reached and the two streams.
    std::map<std::string, std::string> expected;
    int overwrittenStills = 0;
};

// `stills` pictures of three 512-byte clusters; `intactHoles` of the deleted
// ones keep their data. Seeded contents.
InterleavedCard BuildInterleavedCard(int stills, int intactHoles, uint32_t seed);

} // namespace TestSupport
