// Writes the built-in sample card: a small FAT16 volume laid out as a
// camcorder leaves it, with live files, files the user deleted, and in its
// free space what an earlier quick format left: a clip, two stills and files
// that are not recovered (a management file, a JFIF picture).
// Usage: kalvory-make-sample-card OUTPUT.img
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/FatImageBuilder.h"
#include "support/MediaSamples.h"

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

Bytes FromString(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A still whose markers lead to its end-of-image marker at its last byte.
Bytes Jpeg(size_t size, uint32_t seed) { return FromString(TestSupport::ExifJpeg(size, seed)); }

// 192-byte source packets: a 4-byte arrival time rising packet by packet, then a 0x47 sync byte.
Bytes TransportStream(size_t packets, uint32_t seed) { return FromString(TestSupport::StreamBytes(packets * 192, seed)); }

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A clip a camcorder recorded: a PAT, then video packets whose arrival times rise.
Bytes RecordedStream(size_t packets, uint32_t seed) {
    Bytes bytes = Pattern(packets * 192, seed);
    for (size_t i = 0; i < packets; ++i) {
        uint8_t* packet = &bytes[i * 192];
        const uint32_t ats = 1000 + static_cast<uint32_t>(i) * 2256;
        for (int b = 0; b < 4; ++b)
            packet[b] = static_cast<uint8_t>(ats >> (24 - 8 * b));
        packet[4] = 0x47;
        packet[5] = i == 0 ? 0x40 : 0x50;
        packet[6] = i == 0 ? 0x00 : 0x11;
    }
    return bytes;
}

// A still with an Exif or a JFIF first segment, a scan and an end of image.
Bytes Still(size_t scanBytes, uint32_t seed, bool exif) {
    Bytes bytes = {0xFF, 0xD8, 0xFF, static_cast<uint8_t>(exif ? 0xE1 : 0xE0), 0x00, 0x10};
    const Bytes exifId = {'E', 'x', 'i', 'f', 0, 0};
    const Bytes jfifId = {'J', 'F', 'I', 'F', 0, 1};
    const Bytes& id = exif ? exifId : jfifId;
    bytes.insert(bytes.end(), id.begin(), id.end());
    bytes.resize(bytes.size() + 8, 0);
    const uint8_t scan[] = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 63, 0};
    bytes.insert(bytes.end(), std::begin(scan), std::end(scan));
    for (uint8_t byte : Pattern(scanBytes, seed))
        bytes.push_back(byte == 0xFF ? 0x00 : byte);
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    return bytes;
}

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
    FatImage image = card.Build();
    // Far past the files above, in clusters the table calls free.
    uint32_t cluster = 6000;
    const auto leave = [&](const Bytes& bytes) {
        image.WriteRaw(image.Layout().ClusterOffset(cluster), bytes);
        cluster += static_cast<uint32_t>(bytes.size() / image.Layout().clusterSize) + 3;
    };
    leave(RecordedStream(7000, 20));
    leave(Still(60 * 1024, 21, true));
    leave(Text("INDX0200\0\0\0\0\0\0\0\x40"));
    leave(Still(30 * 1024, 22, false));
    leave(Still(45 * 1024, 23, true));
    image.WriteTo(argv[1]);
    return 0;
}
