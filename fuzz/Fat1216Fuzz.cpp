// The FAT12/16 reader: boot sector, table, the walk of every folder.
#include <cstddef>
#include <cstdint>

#include "FSSpecFAT16.h"
#include "FuzzSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FSAccessLib::FAT1216::FSAccessFAT1216 reader(KalvoryFuzz::SharedSource().Load(data, size));
    KalvoryFuzz::WalkVolume(reader);
    return 0;
}
