// The clip XML: its length is where its root element ends.
#include <array>
#include <string_view>

#include "DV_Files.h"

namespace Kalvory {
namespace {

constexpr uint32_t kWindowBytes = 1024;
constexpr uint32_t kWindowOverlap = 10;
constexpr uint64_t kLongestXml = 65536;

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n"
    "<Q7Main xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns=\"urn:schemas-Vantoria:SD:ClipMetadata:v1.0\">";
constexpr std::string_view kEndTag = "</Q7Main>";

using Window = std::array<char, kWindowBytes>;

uint32_t ReadWindow(AAA::Stream& stream, uint64_t at, Window& window) {
    stream.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
    return stream.Read(window.data(), kWindowBytes);
}

std::string_view Text(const Window& window, uint32_t bytes) { return std::string_view(window.data(), bytes); }

} // namespace

uint64_t XmlLength(AAA::Stream& stream, uint64_t start) {
    Window window{};
    if (ReadWindow(stream, start, window) != kWindowBytes || Text(window, kWindowBytes).find(kHeader) == std::string_view::npos)
        return 0;
    for (uint64_t at = 0; at < kLongestXml;) {
        const uint32_t bytes = ReadWindow(stream, start + at, window);
        const size_t tag = Text(window, bytes).find(kEndTag);
        if (tag != std::string_view::npos)
            return at + tag + kEndTag.size() + 1; // and the line feed after it
        // Windows overlap so that a tag across their border is found; a
        // short window is the medium's end.
        if (bytes < kWindowBytes)
            return 0;
        at += bytes - kWindowOverlap;
    }
    return 0;
}

} // namespace Kalvory
