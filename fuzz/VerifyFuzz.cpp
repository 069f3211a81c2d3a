// A whole verification of a card: the tree, found folders and the carving of
// every format together, as a recovery runs them.
#include <cstddef>
#include <cstdint>

#include "FuzzSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KalvoryFuzz::VerifyCard(KalvoryFuzz::SharedSource().Load(data, size));
    return 0;
}
