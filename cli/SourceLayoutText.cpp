#include "SourceLayoutText.h"

#include <cstdio>

#include "AAA_MessageIds.h"
#include "AAA_StringTable.h"
#include "Commands.h"
#include "RecoveredFiles.h"
#include "TargetList.h"

namespace KalvoryCli {
namespace {

std::string Text(int id) { return AAA::LoadStringUtf8(id); }

const char* FoundName(Kalvory::VolumeFound found) {
    switch (found) {
    case Kalvory::VolumeFound::Partition: return "partition";
    case Kalvory::VolumeFound::BootSector: return "boot-sector";
    case Kalvory::VolumeFound::WholeCardRaw: return "whole-card-raw";
    case Kalvory::VolumeFound::Bare: break;
    }
    return "bare";
}

// Target files whose data starts outside the volume.
class CommandCountOutsideVolume : public FSAccessLib::Command {
public:
    CommandCountOutsideVolume(const Kalvory::CardPlace& place, uint64_t volumeBytes)
        : place_(place), volumeBytes_(volumeBytes) {}
    void Execute(FSAccessLib::DirEntry& entry) override {
        if (!entry.target || entry.isDirectory)
            return;
        const std::vector<AAA::ByteRange> ranges = entry.DataRanges();
        if (ranges.empty())
            return;
        const int64_t start = place_.VolumeOffset(ranges.front().start);
        count += start < 0 || static_cast<uint64_t>(start) >= volumeBytes_ ? 1 : 0;
    }
    int count = 0;

private:
    Kalvory::CardPlace place_;
    uint64_t volumeBytes_;
};

} // namespace

std::string FormatLayoutText(const Kalvory::SourceLayout& layout) {
    if (layout.table.scheme == FSAccessLib::PartitionScheme::None && layout.found == Kalvory::VolumeFound::Bare)
        return {};
    std::string text = AAA::FillPlaceholders(Text(AAA::Msg::PartitionTable), {FSAccessLib::PartitionSchemeName(layout.table.scheme)}) + "\n";
    for (const FSAccessLib::Partition& partition : layout.table.partitions) {
        char line[160];
        std::snprintf(line, sizeof line, "  %2u  %-22s at %12llu  %12llu bytes%s%s\n", partition.number,
                      partition.type.c_str(), static_cast<unsigned long long>(partition.offset),
                      static_cast<unsigned long long>(partition.length), partition.pastEnd ? "  (past the end)" : "",
                      partition.number == layout.partition ? "  <- read" : "");
        text += line;
    }
    for (const std::string& problem : layout.table.problems)
        text += "  " + problem + "\n";
    return text;
}

std::string LayoutJsonMember(const Kalvory::SourceLayout& layout) {
    std::string json = ",\n  \"layout\": {\"table\": " + JsonString(FSAccessLib::PartitionSchemeName(layout.table.scheme)) +
                       ", \"volume\": " + JsonString(FoundName(layout.found)) +
                       ", \"volume_offset\": " + std::to_string(layout.volumeOffset) +
                       ", \"card_bytes\": " + std::to_string(layout.cardBytes) + ", \"partitions\": [";
    for (size_t i = 0; i < layout.table.partitions.size(); ++i) {
        const FSAccessLib::Partition& p = layout.table.partitions[i];
        json += (i ? ", " : "") + std::string("{\"number\": ") + std::to_string(p.number) +
                ", \"type\": " + JsonString(p.type) + ", \"offset\": " + std::to_string(p.offset) +
                ", \"length\": " + std::to_string(p.length) + ", \"past_end\": " + (p.pastEnd ? "true" : "false") +
                ", \"read\": " + (p.number == layout.partition ? "true" : "false") + "}";
    }
    json += "], \"gaps_scanned\": " + RangesJson(layout.gapsScanned) + ", \"problems\": [";
    for (size_t i = 0; i < layout.table.problems.size(); ++i)
        json += (i ? ", " : "") + JsonString(layout.table.problems[i]);
    return json + "]}";
}

std::string LayoutNotice(const Kalvory::SourceLayout& layout, const std::string& source) {
    const std::string offset = std::to_string(layout.volumeOffset);
    switch (layout.found) {
    case Kalvory::VolumeFound::Partition:
        return AAA::FillPlaceholders(Text(AAA::Msg::PartitionRead), {std::to_string(layout.partition), offset});
    case Kalvory::VolumeFound::BootSector:
        return AAA::FillPlaceholders(Text(AAA::Msg::VolumeByBootSector), {offset});
    case Kalvory::VolumeFound::WholeCardRaw:
        return AAA::FillPlaceholders(Text(AAA::Msg::WholeCardScanned), {source});
    case Kalvory::VolumeFound::Bare:
        break;
    }
    return {};
}

std::string GapNotice(Kalvory::KalvoryBase& strategy) {
    const Kalvory::SourceLayout& layout = strategy.Layout();
    if (layout.gapsScanned.empty())
        return {};
    uint64_t bytes = 0;
    for (const AAA::ByteRange& gap : layout.gapsScanned)
        bytes += gap.length;
    CommandCountOutsideVolume outside(Kalvory::PlaceOf(strategy.Reader()), strategy.Reader().totalBytes);
    strategy.Root().Apply(outside);
    return AAA::FillPlaceholders(Text(AAA::Msg::CardGapsScanned), {HumanBytes(bytes), std::to_string(outside.count)});
}

} // namespace KalvoryCli
