// Writes the built-in sample card: a small FAT16 volume laid out as a
// camcorder leaves it, with live files and files the user deleted.
// Usage: kalvory-make-sample-card OUTPUT.img
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/FatImageBuilder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Deterministic filler so every file's bytes differ and can be checked.
Bytes Pattern(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

Bytes Jpeg(size_t size, uint32_t seed) {
    Bytes bytes = Pattern(size, seed);
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0};
    std::copy(std::begin(head), std::end(head), bytes.begin());
    bytes[size - 2] = 0xFF;
    bytes[size - 1] = 0xD9;
    return bytes;
}

// 192-byte source packets: a 4-byte time code, then a 0x47 sync byte.
Bytes TransportStream(size_t packets, uint32_t seed) {
    Bytes bytes = Pattern(packets * 192, seed);
    for (size_t i = 0; i < packets; ++i)
        bytes[i * 192 + 4] = 0x47;
    return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.img\n", argv[0]);
        return 2;
    }
    using namespace TestSupport;
    FatVolumeOptions options = FatVolumeOptions::Defaults(FatType::Fat16);
    options.volumeLabel = "CAMCORDER";
    FatImageBuilder card(options);
    card.AddFile("DCIM/100CDPFP/IMGA0001.JPG", Jpeg(48 * 1024, 1));
    card.AddFile("DCIM/100CDPFP/IMGA0002.JPG", Jpeg(52 * 1024, 2));
    card.AddFile("DCIM/101CDPFP/IMGA0003.JPG", Jpeg(40 * 1024, 3));
    card.AddFile("PRIVATE/AVCHD/BDMV/INDEX.BDM", Text("INDX0200 sample index"));
    card.AddFile("PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", Text("MOBJ0200 sample movie objects"));
    card.AddFile("PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", Text("HDMV0200 clip 0"));
    card.AddFile("PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", TransportStream(1600, 10));
    card.AddFile("PRIVATE/AVCHD/BDMV/STREAM/00001.MTS", TransportStream(1200, 11));
    // What the user deleted: one photo, one folder of photos, one clip.
    card.DeleteEntry("DCIM/100CDPFP/IMGA0002.JPG");
    card.DeleteEntry("DCIM/101CDPFP");
    card.DeleteEntry("PRIVATE/AVCHD/BDMV/STREAM/00001.MTS");
    card.Build().WriteTo(argv[1]);
    return 0;
}
