#include "TargetList.h"

#include <algorithm>
#include <cstdio>

#include "Commands.h"
#include "HostPathPlan.h"
#include "Kalvory_Recover.h"
#include "SafeHostPath.h"

namespace KalvoryCli {
namespace {

class CommandCollectTargets : public FSAccessLib::Command {
public:
    explicit CommandCollectTargets(const ListContext& listContext) : context(listContext) {}
    void Execute(FSAccessLib::DirEntry& entry) override {
        if (!entry.target) {
            // Not saved, so it takes no name from the copy's plan.
            if (entry.overwritten)
                targets.push_back(LeftOut(entry));
            return;
        }
        // The names the copy will give, collisions of the run numbered alike.
        const FSAccessLib::HostPlace place = planner.AssignPlace(entry);
        TargetInfo info = DescribeTarget(entry, AAA::ToUtf8(place.relative), context);
        info.pathShortened = place.movedUp;
        info.renamed = place.numbered;
        targets.push_back(std::move(info));
    }
    const ListContext& context;
    std::vector<TargetInfo> targets;
    FSAccessLib::HostPathPlanner planner{u""};

private:
    TargetInfo LeftOut(const FSAccessLib::DirEntry& entry) const {
        TargetInfo info = DescribeTarget(entry, LeftOutPath(entry), context);
        info.leftOut = true;
        return info;
    }
};

// The data's places on the volume and the card. Extents past the image's end
// make the file partial; unreadable source bytes inside them are damage, by
// file offset.
void AddExtents(TargetInfo& info, const FSAccessLib::DirEntry& entry, const ListContext& context) {
    const Kalvory::CardPlace& place = context.place;
    const uint64_t cardEnd = context.imageEnd == UINT64_MAX ? UINT64_MAX : context.imageEnd + place.volumeOffset;
    uint64_t at = 0;
    for (const AAA::ByteRange& range : entry.DataRanges()) {
        const uint64_t cardStart = place.CardOffset(range.start);
        info.extents.push_back({place.VolumeOffset(range.start), range.length, cardStart});
        info.partial = info.partial || range.length > cardEnd - std::min(cardStart, cardEnd);
        if (context.unreadable)
            for (const AAA::ByteRange& bad : context.unreadable->Within(range.start, range.length))
                info.damaged.push_back({at + (bad.start - range.start), bad.length});
        at += range.length;
    }
}

std::string Found(const FSAccessLib::DirEntry& entry) {
    if (entry.fromFoundFolder)
        return "found-folder";
    if (entry.carved)
        return "carved";
    return entry.deleted ? "deleted" : "directory";
}

bool EndsWith(const AAA::WString& name, const char16_t* extension) {
    const AAA::WStringView tail(extension);
    return name.size() >= tail.size() && AAA::WStringView(name).substr(name.size() - tail.size()) == tail;
}

// The signature the scan found a carved file by, from what it became.
std::string Signature(const FSAccessLib::DirEntry& entry) {
    if (!entry.carved || entry.fromFoundFolder || entry.isDirectory)
        return {};
    static const std::pair<const char16_t*, const char*> kSignatures[] = {
        {u".MTS", "AVCHD transport stream (sync byte 0x47)"}, {u".JPG", "Exif JPEG (FF D8 FF E1)"},
        {u".AVI", "RIFF AVI (SD-Video clip)"}, {u".PCM", "SD-Video clip audio (RIFF AVI)"},
        {u".BMP", "BMP icon (BM)"}, {u".XML", "clip XML (<?xml )"},
    };
    for (const auto& [extension, signature] : kSignatures)
        if (EndsWith(entry.name, extension))
            return signature;
    return "carved";
}

std::string Flags(const TargetInfo& target) {
    std::string flags;
    const auto add = [&](bool on, const char* word) {
        if (!on)
            return;
        if (!flags.empty())
            flags += ",";
        flags += word;
    };
    add(target.directory, "folder");
    add(target.deleted, "deleted");
    add(target.carved, "carved");
    add(target.chainBroken, "chain-broken");
    add(target.partial, "partial");
    add(!target.damaged.empty(), "damaged");
    add(target.pathShortened, "path-shortened");
    add(target.overwritten, "overwritten");
    add(target.leftOut, "not-saved");
    add(target.repaired, "repaired");
    return flags.empty() ? "-" : flags;
}

std::string Hex(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string SignedHex(int64_t value) {
    return value < 0 ? "-" + Hex(0 - static_cast<uint64_t>(value)) : Hex(static_cast<uint64_t>(value));
}

const char* Bool(bool value) { return value ? "true" : "false"; }

} // namespace

std::string LeftOutPath(const FSAccessLib::DirEntry& entry) {
    return AAA::ToUtf8(FSAccessLib::SafeHostPath(u"", entry)).substr(1);
}

std::string RangesJson(const std::vector<AAA::ByteRange>& ranges) {
    std::string json = "[";
    for (size_t k = 0; k < ranges.size(); ++k)
        json += (k ? ", " : "") + std::string("{\"start\": ") + std::to_string(ranges[k].start) +
                ", \"length\": " + std::to_string(ranges[k].length) + "}";
    return json + "]";
}

TargetInfo DescribeTarget(const FSAccessLib::DirEntry& entry, std::string relativePath, const ListContext& context) {
    TargetInfo info;
    info.path = std::move(relativePath);
    info.found = Found(entry);
    info.signature = Signature(entry);
    info.size = entry.length;
    info.directory = entry.isDirectory;
    info.deleted = entry.deleted;
    info.carved = entry.carved;
    info.chainBroken = entry.chainBroken;
    info.partial = entry.partial;
    info.overwritten = entry.overwritten;
    info.matchingBytes = entry.matchingBytes;
    info.repaired = entry.repaired;
    if (!entry.isDirectory)
        AddExtents(info, entry, context);
    return info;
}

std::string TargetJsonFields(const TargetInfo& t) {
    std::string json = "\"path\": " + JsonString(t.path);
    json += ", \"size\": " + std::to_string(t.size);
    json += std::string(", \"folder\": ") + Bool(t.directory);
    json += ", \"found\": " + JsonString(t.found);
    json += ", \"signature\": " + (t.signature.empty() ? std::string("null") : JsonString(t.signature));
    json += std::string(", \"deleted\": ") + Bool(t.deleted);
    json += std::string(", \"carved\": ") + Bool(t.carved);
    json += std::string(", \"chainBroken\": ") + Bool(t.chainBroken);
    json += std::string(", \"partial\": ") + Bool(t.partial);
    json += std::string(", \"repaired\": ") + Bool(t.repaired);
    json += ", \"extents\": [";
    for (size_t k = 0; k < t.extents.size(); ++k) {
        json += k ? ", " : "";
        json += "{\"start\": " + std::to_string(t.extents[k].start) + ", \"length\": " +
                std::to_string(t.extents[k].length) + ", \"cardStart\": " + std::to_string(t.extents[k].cardStart) + "}";
    }
    json += "]";
    json += std::string(", \"pathShortened\": ") + Bool(t.pathShortened);
    json += std::string(", \"renamed\": ") + Bool(t.renamed);
    json += ", \"damaged\": " + RangesJson(t.damaged);
    json += std::string(", \"overwritten\": ") + Bool(t.overwritten);
    json += ", \"matchesUpTo\": " + (t.overwritten ? std::to_string(t.matchingBytes) : std::string("null"));
    return json;
}

ListContext ListContextOf(const Kalvory::KalvoryBase& strategy) {
    ListContext context;
    if (const auto& source = strategy.Reader().stream) {
        context.imageEnd = static_cast<uint64_t>(source->Length());
        context.unreadable = &source->Unreadable();
    }
    context.place = Kalvory::PlaceOf(strategy.Reader());
    return context;
}

std::vector<TargetInfo> CollectTargets(FSAccessLib::DirEntry& root, const ListContext& context) {
    CommandCollectTargets collect(context);
    root.Apply(collect);
    return std::move(collect.targets);
}

std::string FormatTargetsText(const std::vector<TargetInfo>& targets) {
    std::string text;
    for (const TargetInfo& target : targets) {
        char head[64];
        std::snprintf(head, sizeof head, "%14llu  ", static_cast<unsigned long long>(target.size));
        text += head;
        text += Flags(target) + "  " + target.path;
        if (target.overwritten)
            text += "  (its data stops matching at " + Hex(target.matchingBytes) + ")";
        if (!target.extents.empty()) {
            text += "  [";
            for (size_t i = 0; i < target.extents.size(); ++i) {
                const TargetExtent& extent = target.extents[i];
                if (i)
                    text += " ";
                text += SignedHex(extent.start) + "+" + Hex(extent.length);
                // A volume inside a whole card: where on the card, too.
                if (static_cast<uint64_t>(extent.start) != extent.cardStart)
                    text += "@card:" + Hex(extent.cardStart);
            }
            text += "]";
        }
        text += "\n";
    }
    return text;
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        if (c != '\n')
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    return line;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string FormatTargetsJson(const std::string& source, const std::vector<TargetInfo>& targets,
                              const std::string& sourceMembers) {
    std::string json = "{\n  \"format\": " + std::to_string(kJsonFormat) + ",\n  \"source\": " + JsonString(source) +
                       sourceMembers + ",\n  \"targets\": [";
    for (size_t i = 0; i < targets.size(); ++i)
        json += (i ? ",\n    {" : "\n    {") + TargetJsonFields(targets[i]) + "}";
    json += targets.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return json;
}

} // namespace KalvoryCli
