// The mapfile of an imaging run: whatever it reads, it writes back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Rescue_Map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const std::optional<Rescue::Map> map = Rescue::ParseMap(std::string(reinterpret_cast<const char*>(data), size), error);
    if (!map)
        return 0;
    const std::optional<Rescue::Map> again = Rescue::ParseMap(Rescue::FormatMap(*map, "fuzz"), error);
    if (!again || again->Blocks() != map->Blocks() || again->Size() != map->Size() ||
        again->BytesNotFinished() != map->BytesNotFinished())
        std::abort();
    return 0;
}
