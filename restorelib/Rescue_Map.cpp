#include "Rescue_Map.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace Rescue {

Map::Map(uint64_t size) : size_(size) {
    if (size_ > 0)
        blocks_.emplace(0, std::make_pair(size_, Area::NonTried));
}

void Map::SplitAt(uint64_t position) {
    if (position == 0 || position >= size_)
        return;
    auto it = std::prev(blocks_.upper_bound(position));
    if (it->first == position)
        return;
    const auto [end, area] = it->second;
    it->second.first = position;
    blocks_.emplace(position, std::make_pair(end, area));
}

void Map::MergeAround(uint64_t position) {
    auto it = blocks_.upper_bound(position);
    if (it != blocks_.begin())
        --it;
    if (it != blocks_.begin())
        --it; // start from the block before, so both joints are seen
    for (int joints = 0; joints < 3 && it != blocks_.end(); ++joints) {
        auto next = std::next(it);
        if (next != blocks_.end() && next->second.second == it->second.second) {
            it->second.first = next->second.first;
            blocks_.erase(next);
        } else {
            it = next;
        }
    }
}

void Map::Set(uint64_t start, uint64_t end, Area area) {
    end = std::min(end, size_);
    if (start >= end)
        return;
    SplitAt(start);
    SplitAt(end);
    auto first = blocks_.find(start);
    blocks_.erase(first, blocks_.lower_bound(end));
    blocks_.emplace(start, std::make_pair(end, area));
    MergeAround(start);
    MergeAround(end);
}

Area Map::At(uint64_t position) const {
    if (position >= size_)
        return Area::Finished;
    return std::prev(blocks_.upper_bound(position))->second.second;
}

std::optional<MapBlock> Map::NextOf(Area area, uint64_t from) const {
    if (from >= size_)
        return std::nullopt;
    for (auto it = std::prev(blocks_.upper_bound(from)); it != blocks_.end(); ++it) {
        if (it->second.second != area)
            continue;
        const uint64_t start = std::max(it->first, from);
        return MapBlock{start, it->second.first - start, area};
    }
    return std::nullopt;
}

std::vector<MapBlock> Map::Blocks() const {
    std::vector<MapBlock> out;
    out.reserve(blocks_.size());
    for (const auto& [start, block] : blocks_)
        out.push_back({start, block.first - start, block.second});
    return out;
}

uint64_t Map::BytesIn(Area area) const {
    uint64_t bytes = 0;
    for (const auto& [start, block] : blocks_)
        if (block.second == area)
            bytes += block.first - start;
    return bytes;
}

std::string FormatMap(const Map& map, const std::string& commandLine) {
    std::string text = "# Mapfile. Created by kalvory image\n# Command line: " + commandLine + "\n";
    char line[96];
    std::snprintf(line, sizeof line, "# current_pos  current_status  current_pass\n0x%08" PRIX64 "     %c               %d\n",
                  map.currentPosition, static_cast<char>(map.phase), map.pass);
    text += line;
    text += "#      pos        size  status\n";
    for (const MapBlock& block : map.Blocks()) {
        std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", block.start, block.length,
                      static_cast<char>(block.area));
        text += line;
    }
    return text;
}

namespace {

// A number as ddrescue writes and reads them: decimal, 0x hex or 0 octal.
std::optional<uint64_t> Number(const std::string& word) {
    if (word.empty() || word[0] < '0' || word[0] > '9')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(word.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > static_cast<unsigned long long>(INT64_MAX))
        return std::nullopt;
    return static_cast<uint64_t>(value);
}

bool IsArea(const std::string& word) { return word.size() == 1 && std::string("?*/-+").find(word[0]) != std::string::npos; }
bool IsPhase(const std::string& word) { return word.size() == 1 && std::string("?*/-FG+").find(word[0]) != std::string::npos; }

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

struct StatusLine {
    uint64_t position;
    Phase phase;
    int pass;
};

std::optional<StatusLine> ReadStatus(const std::vector<std::string>& words) {
    if (words.size() < 2 || words.size() > 3 || !IsPhase(words[1]))
        return std::nullopt;
    const auto position = Number(words[0]);
    const auto pass = words.size() == 3 ? Number(words[2]) : std::optional<uint64_t>(1);
    if (!position || !pass || *pass < 1 || *pass > 1000)
        return std::nullopt;
    // Filling and generating runs are not ours; resume them as a copy.
    const char c = words[1][0];
    const Phase phase = c == 'F' || c == 'G' ? Phase::Copying : static_cast<Phase>(c);
    return StatusLine{*position, phase, static_cast<int>(*pass)};
}

} // namespace

std::optional<Map> ParseMap(const std::string& text, std::string& error) {
    std::istringstream in(text);
    std::optional<StatusLine> status;
    std::vector<MapBlock> blocks;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number);
        if (!status) {
            if (!(status = ReadStatus(words))) {
                error = where + ": not a status line (position, state, pass)";
                return std::nullopt;
            }
            continue;
        }
        const auto start = words.size() == 3 ? Number(words[0]) : std::nullopt;
        const auto length = words.size() == 3 ? Number(words[1]) : std::nullopt;
        if (!start || !length || !IsArea(words[2]) || *length == 0 || *length > INT64_MAX - *start) {
            error = where + ": not a block (position, size, state)";
            return std::nullopt;
        }
        const uint64_t expected = blocks.empty() ? 0 : blocks.back().End();
        if (*start != expected) {
            error = where + ": the block does not begin where the one before ends";
            return std::nullopt;
        }
        blocks.push_back({*start, *length, static_cast<Area>(words[2][0])});
    }
    if (!status) {
        error = "no status line";
        return std::nullopt;
    }
    Map map(blocks.empty() ? 0 : blocks.back().End());
    for (const MapBlock& block : blocks)
        map.Set(block.start, block.End(), block.area);
    map.currentPosition = status->position;
    map.phase = status->phase;
    map.pass = status->pass;
    return map;
}

} // namespace Rescue
