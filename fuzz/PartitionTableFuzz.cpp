// A whole card's partition table (MBR with extended partitions, GPT with its
// backup), read from the input as the card.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "PartitionTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream card(data, size);
    const FSAccessLib::PartitionTable table = FSAccessLib::ReadPartitionTable(card, size);
    for (const FSAccessLib::Partition& partition : table.partitions)
        if (partition.offset >= size || partition.length == 0)
            __builtin_trap(); // a partition that starts past the card was let through
    return 0;
}
