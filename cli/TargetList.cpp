#include "TargetList.h"

#include <cstdio>

#include "Commands.h"
#include "HostPathPlan.h"

namespace KalvoryCli {
namespace {

class CommandCollectTargets : public FSAccessLib::Command {
public:
    void Execute(FSAccessLib::DirEntry& entry) override {
        if (!entry.target)
            return;
        TargetInfo info;
        // The names the copy will give, collisions of the run numbered alike.
        std::string path = AAA::ToUtf8(planner.Assign(entry));
        if (!path.empty() && path.front() == '/')
            path.erase(0, 1);
        info.path = path;
        info.size = entry.length;
        info.directory = entry.isDirectory;
        info.deleted = entry.deleted;
        info.carved = entry.carved;
        info.chainBroken = entry.chainBroken;
        if (!entry.isDirectory) {
            if (entry.chain.empty())
                info.extents.emplace_back(entry.start, entry.length);
            for (const FSAccessLib::DataBlock& block : entry.chain)
                info.extents.emplace_back(block.start, block.length);
        }
        targets.push_back(std::move(info));
    }
    std::vector<TargetInfo> targets;
    FSAccessLib::HostPathPlanner planner{u""};
};

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
    return flags.empty() ? "-" : flags;
}

std::string Hex(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

std::vector<TargetInfo> CollectTargets(FSAccessLib::DirEntry& root) {
    CommandCollectTargets collect;
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
        if (!target.extents.empty()) {
            text += "  [";
            for (size_t i = 0; i < target.extents.size(); ++i) {
                if (i)
                    text += " ";
                text += Hex(target.extents[i].first) + "+" + Hex(target.extents[i].second);
            }
            text += "]";
        }
        text += "\n";
    }
    return text;
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

std::string FormatTargetsJson(const std::string& source, const std::vector<TargetInfo>& targets) {
    std::string json = "{\n  \"source\": " + JsonString(source) + ",\n  \"targets\": [";
    for (size_t i = 0; i < targets.size(); ++i) {
        const TargetInfo& t = targets[i];
        json += i ? ",\n    {" : "\n    {";
        json += "\"path\": " + JsonString(t.path);
        json += ", \"size\": " + std::to_string(t.size);
        json += std::string(", \"folder\": ") + (t.directory ? "true" : "false");
        json += std::string(", \"deleted\": ") + (t.deleted ? "true" : "false");
        json += std::string(", \"carved\": ") + (t.carved ? "true" : "false");
        json += std::string(", \"chainBroken\": ") + (t.chainBroken ? "true" : "false");
        json += ", \"extents\": [";
        for (size_t k = 0; k < t.extents.size(); ++k) {
            json += k ? ", " : "";
            json += "{\"start\": " + std::to_string(t.extents[k].first) +
                    ", \"length\": " + std::to_string(t.extents[k].second) + "}";
        }
        json += "]}";
    }
    json += targets.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return json;
}

} // namespace KalvoryCli
