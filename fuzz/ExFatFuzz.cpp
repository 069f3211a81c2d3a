// The exFAT reader: boot region, table, entry sets, the walk of every folder.
#include <cstddef>
#include <cstdint>

#include "FSSpecExFAT.h"
#include "FuzzSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FSAccessLib::ExFAT::FSAccessExFAT reader(KalvoryFuzz::SharedSource().Load(data, size));
    KalvoryFuzz::WalkVolume(reader);
    return 0;
}
