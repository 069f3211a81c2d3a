#include "SourceMap.h"

#include <algorithm>

#include "AAA_MessageIds.h"
#include "AAA_StringTable.h"
#include "Rescue_MapFile.h"

namespace KalvoryCli {

std::string ApplySourceMap(Kalvory::KalvoryBase& strategy, const std::string& mapPath, const std::string& source) {
    std::string error;
    const std::optional<Rescue::Map> map = Rescue::LoadMapFile(mapPath, error);
    if (!map)
        return error;
    AAA::FileStream& stream = *strategy.Reader().stream;
    // The map covers the whole image; a volume inside it is read in its own offsets.
    const uint64_t origin = stream.Origin();
    const auto size = static_cast<uint64_t>(stream.Length()) + origin;
    if (map->Size() != size)
        return AAA::FillPlaceholders(AAA::LoadStringUtf8(AAA::Msg::MapSizeDiffers),
                                     {mapPath, std::to_string(map->Size()), source, std::to_string(size)});
    for (const Rescue::MapBlock& block : map->Blocks()) {
        if (block.area == Rescue::Area::Finished)
            continue;
        if (block.start + block.length > origin) {
            const uint64_t start = std::max(block.start, origin);
            stream.MarkUnreadable(start - origin, block.start + block.length - start);
        }
        // The bytes before the volume, should the sector search read them.
        if (block.start < origin)
            stream.MarkUnreadable(AAA::FileStream::kCardWindow + block.start,
                                  std::min(block.start + block.length, origin) - block.start);
    }
    return {};
}

} // namespace KalvoryCli
