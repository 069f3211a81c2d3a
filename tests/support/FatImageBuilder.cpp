#include "support/FatImageBuilder.h"

#include "support/FatNames.h"
#include "support/FatVolumeWriter.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace TestSupport {

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::stringstream stream(path);
    for (std::string part; std::getline(stream, part, '/');)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string JoinPath(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += (i ? "/" : "") + parts[i];
    return out;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::uint16_t EncodeFatDate(const FatDateTime& v) {
    return static_cast<std::uint16_t>(((v.year - 1980) & 0x7F) << 9 | (v.month & 0x0F) << 5 | (v.day & 0x1F));
}

std::uint16_t EncodeFatTime(const FatDateTime& v) {
    return static_cast<std::uint16_t>((v.hour & 0x1F) << 11 | (v.minute & 0x3F) << 5 | ((v.second / 2) & 0x1F));
}

FatVolumeOptions FatVolumeOptions::Defaults(FatType type) {
    FatVolumeOptions o;
    o.type = type;
    switch (type) {
    case FatType::Fat12:
        o.totalSectors = 4096;
        o.sectorsPerCluster = 4;
        break;
    case FatType::Fat16:
        o.totalSectors = 65536;
        o.sectorsPerCluster = 4;
        break;
    case FatType::Fat32:
        o.totalSectors = 131072;
        o.sectorsPerCluster = 1;
        o.reservedSectors = 32;
        o.rootEntryCount = 0;
        break;
    }
    return o;
}

FatImageBuilder::FatImageBuilder(FatVolumeOptions options) : options_(std::move(options)) {
    Node root;
    root.folder = true;
    nodes_.push_back(std::move(root));
}

FatEntryId FatImageBuilder::AddFolder(const std::string& path, const FatEntryOptions& options) {
    return AddNode(path, true, {}, options);
}

FatEntryId FatImageBuilder::AddFile(const std::string& path, std::vector<std::uint8_t> data,
                                    const FatEntryOptions& options) {
    return AddNode(path, false, std::move(data), options);
}

FatEntryId FatImageBuilder::AddFile(const std::string& path, std::string_view data, const FatEntryOptions& options) {
    return AddNode(path, false, std::vector<std::uint8_t>(data.begin(), data.end()), options);
}

void FatImageBuilder::AddRawSlot(const std::string& folderPath, const std::array<std::uint8_t, 32>& slot) {
    nodes_[FindOrMakeFolder(folderPath)].items.emplace_back(slot);
}

FatEntryId FatImageBuilder::DeleteEntry(const std::string& path, const FatDeleteOptions& options) {
    const FatEntryId id = FindLive(path);
    if (id == 0) throw std::invalid_argument("the root folder cannot be deleted");
    MarkDeleted(id, options);
    return id;
}

FatImage FatImageBuilder::Build() const {
    return WriteFatVolume(options_, nodes_);
}

FatEntryId FatImageBuilder::AddNode(const std::string& path, bool folder, std::vector<std::uint8_t> data,
                                    const FatEntryOptions& options) {
    const std::vector<std::string> parts = SplitPath(path);
    if (parts.empty()) throw std::invalid_argument("empty path");
    const FatEntryId parent = FindOrMakeFolder(JoinPath(parts, parts.size() - 1));
    const std::string& name = parts.back();

    auto siblings = [&](auto&& match) {
        for (const Item& item : nodes_[parent].items)
            if (const auto* id = std::get_if<FatEntryId>(&item); id && match(nodes_[*id])) return true;
        return false;
    };
    const std::string nameKey = Upper(name);
    if (siblings([&](const Node& n) { return !n.deleted && (n.name == name || ShortNameText(n.shortName) == nameKey); }))
        throw std::invalid_argument("entry exists already: " + path);

    Node node;
    node.name = name;
    node.path = JoinPath(parts, parts.size());
    node.folder = folder;
    node.options = options;
    node.data = std::move(data);
    node.parent = parent;
    if (!options.shortName.empty())
        node.shortName = PackShortName(options.shortName);
    else if (IsPlainShortName(name))
        node.shortName = PackShortName(name);
    else
        node.shortName = MakeShortAlias(name, [&](const FatShortName& candidate) {
            return siblings([&](const Node& n) { return n.shortName == candidate; });
        });
    if (siblings([&](const Node& n) { return !n.deleted && n.shortName == node.shortName; }))
        throw std::invalid_argument("short name taken in its folder: " + ShortNameText(node.shortName));

    const bool plain = IsPlainShortName(name) && ShortNameText(node.shortName) == name;
    if (options.longName == LongNameMode::Always || (options.longName == LongNameMode::Auto && !plain))
        node.longName = Utf8ToUtf16(name);

    const FatEntryId id = nodes_.size();
    nodes_.push_back(std::move(node));
    nodes_[parent].items.emplace_back(id);
    return id;
}

FatEntryId FatImageBuilder::FindLive(const std::string& path) const {
    FatEntryId current = 0;
    for (const std::string& part : SplitPath(path)) {
        const std::string key = Upper(part);
        auto found = std::find_if(nodes_[current].items.begin(), nodes_[current].items.end(), [&](const Item& item) {
            const auto* id = std::get_if<FatEntryId>(&item);
            if (!id || nodes_[*id].deleted) return false;
            return nodes_[*id].name == part || ShortNameText(nodes_[*id].shortName) == key;
        });
        if (found == nodes_[current].items.end()) throw std::invalid_argument("no live entry at " + path);
        current = std::get<FatEntryId>(*found);
    }
    return current;
}

FatEntryId FatImageBuilder::FindOrMakeFolder(const std::string& path) {
    const std::vector<std::string> parts = SplitPath(path);
    for (std::size_t count = 1; count <= parts.size(); ++count) {
        const std::string prefix = JoinPath(parts, count);
        try {
            FindLive(prefix);
        } catch (const std::invalid_argument&) {
            AddNode(prefix, true, {}, {});
        }
    }
    const FatEntryId id = FindLive(path);
    if (!nodes_[id].folder) throw std::invalid_argument("not a folder: " + path);
    return id;
}

void FatImageBuilder::MarkDeleted(FatEntryId id, const FatDeleteOptions& options) {
    nodes_[id].deleted = true;
    nodes_[id].deleteOptions = options;
    for (const Item& item : nodes_[id].items)
        if (const auto* child = std::get_if<FatEntryId>(&item); child && !nodes_[*child].deleted)
            MarkDeleted(*child, options);
}

} // namespace TestSupport
