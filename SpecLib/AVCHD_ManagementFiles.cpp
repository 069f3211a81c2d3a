#include "AVCHD_ManagementFiles.h"

#include <array>
#include <optional>

namespace Kalvory {
namespace {

constexpr uint32_t kHeaderBytes = 64;
constexpr uint32_t kFixedLastSection = 40;

uint32_t BigEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// The header, only when all of it could be read (bytes past the end of the
// medium are unknown, never guessed).
std::optional<std::array<uint8_t, kHeaderBytes>> ReadHeader(AAA::Stream& stream, uint64_t start) {
    std::array<uint8_t, kHeaderBytes> header{};
    stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
    if (stream.Read(header.data(), kHeaderBytes) != kHeaderBytes)
        return std::nullopt;
    return header;
}

// A section at `offset` counts its bytes after its 4-byte length word.
uint64_t SectionEnd(AAA::Stream& stream, uint64_t start, uint32_t offset) {
    uint8_t word[4];
    stream.Seek(static_cast<int64_t>(start + offset), AAA::SeekBegin);
    if (stream.Read(word, sizeof word) != sizeof word)
        return 0;
    return uint64_t{offset} + 4 + BigEndian32(word);
}

// The last section's offset is the word at `primary`, or when that is 0 the
// word at `fallback` (a header offset), or a fixed offset.
uint64_t LengthFromHeader(AAA::Stream& stream, uint64_t start, uint32_t primary, std::optional<uint32_t> fallback) {
    const auto header = ReadHeader(stream, start);
    if (!header)
        return 0;
    uint32_t last = BigEndian32(header->data() + primary);
    if (last == 0)
        last = fallback ? BigEndian32(header->data() + *fallback) : kFixedLastSection;
    return SectionEnd(stream, start, last);
}

} // namespace

uint64_t ClipInformationLength(AAA::Stream& stream, uint64_t start) { return LengthFromHeader(stream, start, 28, 24); }
uint64_t PlaylistLength(AAA::Stream& stream, uint64_t start) { return LengthFromHeader(stream, start, 16, 12); }
uint64_t IndexLength(AAA::Stream& stream, uint64_t start) { return LengthFromHeader(stream, start, 12, 8); }
uint64_t MovieObjectLength(AAA::Stream& stream, uint64_t start) {
    return LengthFromHeader(stream, start, 8, std::nullopt);
}
uint64_t ThumbnailIndexLength(AAA::Stream& stream, uint64_t start) {
    return SectionEnd(stream, start, kFixedLastSection);
}

} // namespace Kalvory
