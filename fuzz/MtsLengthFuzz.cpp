// The length of a carved AVCHD stream and whether it is worth recovering.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "AVCHD_Files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    static std::vector<uint8_t> buffer; // kept between calls, as the sector search keeps it
    const uint64_t length = Kalvory::MtsLength(stream, 0, 512, buffer);
    Kalvory::IsPlausibleMts(stream, 0, length);
    return 0;
}
