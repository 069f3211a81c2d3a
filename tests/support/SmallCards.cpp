#include "support/SmallCards.h"

#include <stdexcept>

#include "support/ExFatImageBuilder.h"
#include "support/FatImageBuilder.h"

namespace TestSupport {
namespace {

FatVolumeOptions SmallFatOptions(CardSystem system) {
    FatVolumeOptions options = FatVolumeOptions::Defaults(FatType::Fat12);
    if (system == CardSystem::Fat16) {
        options = FatVolumeOptions::Defaults(FatType::Fat16);
        options.totalSectors = 4400; // about 4300 one-sector clusters: FAT16's least
        options.sectorsPerCluster = 1;
    } else if (system == CardSystem::Fat32) {
        options = FatVolumeOptions::Defaults(FatType::Fat32);
        options.totalSectors = 8192; // the FAT32 reader asks for no least count
    }
    return options;
}

// Adds every item with the options `optionsFor` gives it, then deletes the
// items marked deleted.
template <class Builder, class OptionsFor>
void AddItems(Builder& builder, const std::vector<CardItem>& items, OptionsFor optionsFor) {
    for (const CardItem& item : items) {
        const auto options = optionsFor(item);
        if (item.folder)
            builder.AddFolder(item.path, options);
        else
            builder.AddFile(item.path, item.data, options);
    }
    for (const CardItem& item : items)
        if (item.deleted)
            builder.DeleteEntry(item.path);
}

SmallCard BuildFat(CardSystem system, const std::vector<CardItem>& items, const CardDamage& damage) {
    FatImageBuilder builder(SmallFatOptions(system));
    AddItems(builder, items, [](const CardItem& item) {
        FatEntryOptions options;
        options.clusters = item.clusters;
        return options;
    });
    FatImage image = builder.Build();
    const FatLayout& layout = image.Layout();
    if (!damage.folderPastVolume.empty()) {
        auto slot = image.Slot(image.Entry(damage.folderPastVolume).slotOffset);
        const uint32_t past = layout.clusterCount + 2 + damage.clustersPast;
        slot[26] = static_cast<uint8_t>(past);
        slot[27] = static_cast<uint8_t>(past >> 8);
        slot[20] = static_cast<uint8_t>(past >> 16);
        slot[21] = static_cast<uint8_t>(past >> 24);
        image.WriteSlot(image.Entry(damage.folderPastVolume).slotOffset, slot);
    }
    if (!damage.folderAsOneRun.empty())
        image.SetFatEntry(image.Entry(damage.folderAsOneRun).firstCluster, 0);
    SmallCard card;
    card.clusterSize = layout.clusterSize;
    card.dataOffset = layout.dataOffset;
    for (const FatEntryInfo& entry : image.Entries())
        card.start[entry.path] = entry.firstCluster >= 2 ? layout.ClusterOffset(entry.firstCluster) : 0;
    card.bytes = image.Bytes();
    return card;
}

SmallCard BuildExFat(const std::vector<CardItem>& items, const CardDamage& damage) {
    ExFatGeometry geometry;
    geometry.volumeBytes = 4u << 20;
    ExFatImageBuilder builder(geometry);
    AddItems(builder, items, [&](const CardItem& item) {
        ExFatEntryOptions options;
        options.clusters = item.clusters;
        options.noFatChain = item.noFatChain || item.path == damage.folderAsOneRun;
        if (item.path == damage.folderPastVolume)
            options.firstCluster = builder.ClusterCount() + 2 + damage.clustersPast;
        return options;
    });
    SmallCard card;
    card.clusterSize = builder.ClusterSize();
    card.dataOffset = builder.ClusterOffset(2);
    for (const ExFatEntryInfo& entry : builder.Entries())
        card.start[entry.path] = entry.firstCluster >= 2 ? builder.ClusterOffset(entry.firstCluster) : 0;
    card.bytes = builder.Build();
    return card;
}

} // namespace

const char* CardSystemName(CardSystem system) {
    switch (system) {
    case CardSystem::Fat12: return "Fat12";
    case CardSystem::Fat16: return "Fat16";
    case CardSystem::Fat32: return "Fat32";
    case CardSystem::ExFat: return "ExFat";
    }
    return "?";
}

std::string SmallCard::Cut(uint64_t end) const {
    if (end > bytes.size())
        throw std::out_of_range("cut past the card's end");
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

SmallCard BuildSmallCard(CardSystem system, const std::vector<CardItem>& items, const CardDamage& damage) {
    return system == CardSystem::ExFat ? BuildExFat(items, damage) : BuildFat(system, items, damage);
}

} // namespace TestSupport
