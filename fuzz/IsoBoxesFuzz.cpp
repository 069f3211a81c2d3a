// The walk of an ISO media file's top-level boxes, as the carving row measures it.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "ISOBMFF_Boxes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    Kalvory::IsIsoMediaStart(data, size);
    Kalvory::IsoMediaLength(stream, 0);
    Kalvory::WalkTopLevelBoxes(stream, 0, size);
    return 0;
}
