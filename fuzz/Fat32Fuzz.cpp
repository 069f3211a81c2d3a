// The FAT32 reader: boot sector, FSInfo, table, the walk of every folder.
#include <cstddef>
#include <cstdint>

#include "FSSpecFAT32.h"
#include "FuzzSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FSAccessLib::FAT32::FSAccessFAT32 reader(KalvoryFuzz::SharedSource().Load(data, size));
    KalvoryFuzz::WalkVolume(reader);
    return 0;
}
