#include "SourceMap.h"

#include "AAA_StringTable.h"
#include "Rescue_MapFile.h"

namespace KalvoryCli {

std::string ApplySourceMap(Kalvory::KalvoryBase& strategy, const std::string& mapPath, const std::string& source) {
    std::string error;
    const std::optional<Rescue::Map> map = Rescue::LoadMapFile(mapPath, error);
    if (!map)
        return error;
    AAA::FileStream& stream = *strategy.Reader().stream;
    const auto size = static_cast<uint64_t>(stream.Length());
    if (map->Size() != size)
        return AAA::FillPlaceholders(AAA::LoadStringUtf8(2108),
                                     {mapPath, std::to_string(map->Size()), source, std::to_string(size)});
    for (const Rescue::MapBlock& block : map->Blocks())
        if (block.area != Rescue::Area::Finished)
            stream.MarkUnreadable(block.start, block.length);
    return {};
}

} // namespace KalvoryCli
