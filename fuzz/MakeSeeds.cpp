// Writes the seed corpus of every fuzz target into OUT/<target>/: small cards
// of each file system made by the test image builders (whole, and with the
// damage the readers must step over), media made by the sample writers, and
// DV clips laid out by the clip writer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/DvClipWriter.h"
#include "support/IsoMediaSamples.h"
#include "support/MediaSamples.h"
#include "support/PartitionedCard.h"
#include "support/SmallCards.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace TestSupport;

class Corpus {
public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}
    void Add(const std::string& target, const std::string& name, const std::string& bytes) {
        fs::create_directories(root_ / target);
        WriteFileBytes(root_ / target / name, bytes);
    }

private:
    fs::path root_;
};

// SOI, APP1 "Exif", quantisation and frame segments, a scan with a stuffed
// 0xFF and a restart marker, EOI.
std::string ExifPicture(uint8_t seed) {
    std::string picture("\xFF\xD8\xFF\xE1\x00\x08" "Exif\0\0", 12);
    picture += std::string("\xFF\xDB\x00\x43\x00", 5) + std::string(64, static_cast<char>(seed | 1));
    picture += std::string("\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x01\x01\x11\x00", 13);
    picture += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    for (int i = 0; i < 40; ++i)
        picture += static_cast<char>(seed + i);
    picture += std::string("\x11\xFF\x00\x22\xFF\xD3\x33\xFF\xD9", 9);
    return picture;
}

std::vector<CardItem> CameraItems(bool noFatChain) {
    std::vector<CardItem> items = {
        {"DCIM/100CDPFP/IMGA0001.JPG", ExifPicture(1)},
        {"DCIM/100CDPFP/IMGA0002.JPG", ExifPicture(2)},
        {"PRIVATE/AVCHD/BDMV/INDEX.BDM", ManagementFile("INDX", 12, 64, 200)},
        {"PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", ManagementFile("MOBJ", 0, 40, 300)},
        {"PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", ManagementFile("HDMV", 28, 60, 900)},
        {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", SourcePackets(64)},
        {"PRIVATE/AVCHD/BDMV/STREAM/00001.MTS", SourcePackets(40, 5000)},
    };
    items[1].deleted = true;
    items[6].deleted = true;
    for (CardItem& item : items)
        item.noFatChain = noFatChain;
    return items;
}

// The card up to its last written sector: what lies after is zeros, and an
// image that ends early is read as far as it goes.
std::string Trimmed(const SmallCard& card) {
    const auto last = std::find_if(card.bytes.rbegin(), card.bytes.rend(), [](uint8_t b) { return b != 0; });
    const uint64_t used = static_cast<uint64_t>(card.bytes.rend() - last);
    return card.Cut(std::min<uint64_t>(card.bytes.size(), (used + 511) / 512 * 512));
}

void AddCards(Corpus& corpus) {
    struct Variant {
        const char* name;
        CardDamage damage;
        bool noFatChain;
    };
    const Variant variants[] = {
        {"whole", {}, false},
        {"folder-past-volume", {.folderPastVolume = "DCIM/100CDPFP"}, false},
        {"folder-as-one-run", {.folderAsOneRun = "PRIVATE/AVCHD"}, false},
        {"no-fat-chain", {}, true},
    };
    for (const CardSystem system : {CardSystem::Fat12, CardSystem::Fat16, CardSystem::Fat32, CardSystem::ExFat}) {
        const std::string target = system == CardSystem::ExFat   ? "exfat"
                                   : system == CardSystem::Fat32 ? "fat32"
                                                                 : "fat1216";
        for (const Variant& variant : variants) {
            if (variant.noFatChain && system != CardSystem::ExFat)
                continue;
            const SmallCard card = BuildSmallCard(system, CameraItems(variant.noFatChain), variant.damage);
            const std::string name = std::string(CardSystemName(system)) + "-" + variant.name;
            const std::string bytes = Trimmed(card);
            corpus.Add(target, name, bytes);
            corpus.Add("verify", name, bytes);
            // Cut inside the first stream: a card whose image ends early.
            const uint64_t cut = card.start.at("PRIVATE/AVCHD/BDMV/STREAM/00000.MTS") + 5000;
            if (cut < bytes.size())
                corpus.Add(target, name + "-cut", bytes.substr(0, cut));
        }
    }
}

void AddMedia(Corpus& corpus) {
    corpus.Add("mts_length", "64-packets", SourcePackets(64));
    corpus.Add("mts_length", "wrapping-clock", SourcePackets(300, 0x3FFF0000));
    corpus.Add("mts_length", "then-foreign-data", SourcePackets(100) + std::string(4096, '\x5A'));
    corpus.Add("management_files", "index", ManagementFile("INDX", 12, 64, 200));
    corpus.Add("management_files", "movie-object", ManagementFile("MOBJ", 0, 40, 300));
    corpus.Add("management_files", "clip-information", ManagementFile("HDMV", 28, 60, 900));
    corpus.Add("management_files", "playlist", ManagementFile("MPLS", 16, 80, 100));
    corpus.Add("management_files", "thumbnail-index", ManagementFile("TIDX", 0, 40, 64));
    corpus.Add("jpeg", "exif", ExifPicture(3));
    TempDir scratch("kalvory-fuzz-seeds");
    if (const auto made = ToolMadeJpeg(scratch.Path(), 1, true))
        corpus.Add("jpeg", "tool-made-exif", *made);
    if (const auto made = ToolMadeJpeg(scratch.Path(), 2, false))
        corpus.Add("jpeg", "tool-made-thumbnail", *made); // JFIF, 192x120
}

// A clip from its "RIFF" on, as the clip handler meets it.
std::string ClipBytes(const DvClipLayout& layout) {
    std::string bytes(layout.span, '\0');
    for (const auto& [offset, piece] : layout.pieces)
        bytes.replace(offset, piece.size(), piece);
    return bytes.substr(layout.aviOffset);
}

void AddClips(Corpus& corpus) {
    const DvClipLayout ntsc = WriteDvClip({.system = DvVideoSystem::Ntsc, .frames = 2, .payload = false});
    const DvClipLayout pal = WriteDvClip({.system = DvVideoSystem::Pal, .frames = 2, .payload = false, .seed = 3});
    const DvClipLayout gap = WriteDvClip(
        {.system = DvVideoSystem::Ntsc, .frames = 4, .gaps = {{DvGapPlace::DifSequence, 1, DvXmlInGap::First}}, .payload = false});
    corpus.Add("dv_clip", "ntsc", ClipBytes(ntsc));
    corpus.Add("dv_clip", "pal", ClipBytes(pal));
    corpus.Add("dv_clip", "ntsc-gap-with-xml", ClipBytes(gap));
    // A description is searched in whole 1 KiB windows: on a card sectors follow it.
    corpus.Add("xml_length", "clip", ntsc.xmlFile + std::string(2048, '\0'));
    corpus.Add("xml_length", "clip-then-data", pal.xmlFile + std::string(2048, 'x'));
    // The end tag across the border of the first two windows.
    std::string across = ntsc.xmlFile;
    const size_t tag = across.rfind("</");
    if (tag < 1020)
        across.insert(tag, std::string(1020 - tag, ' '));
    corpus.Add("xml_length", "end-tag-across-windows", across + std::string(2048, '\0'));
}

// Operation sequences for the stream target: a shape byte (block size, the
// progress stream, short reads, a bad range, an early end), its two words,
// then five bytes an operation.
void AddStreamRuns(Corpus& corpus) {
    const uint8_t shapes[] = {0x01, 0x02, 0x05, 0x19, 0x21, 0x3A};
    uint32_t state = 2024;
    for (const uint8_t shape : shapes) {
        std::string bytes(1, static_cast<char>(shape));
        for (int i = 0; i < 9 + 5 * 400; ++i) {
            state = state * 1664525u + 1013904223u;
            bytes += static_cast<char>(state >> 24);
        }
        corpus.Add("file_stream", "shape-" + std::to_string(shape), bytes);
    }
}

// Small whole cards: primary and logical MBR partitions, and a GPT.
void AddPartitionTables(Corpus& corpus) {
    const std::string volume(512 * 8, '\x11');
    corpus.Add("partition_table", "mbr", BuildWholeCard(TableKind::Mbr, 96, {{16, volume, 0x06}}));
    corpus.Add("partition_table", "mbr-logical",
               BuildWholeCard(TableKind::Mbr, 128, {{16, volume, 0x06}, {40, volume, 0x0C, true}, {60, volume, 0x0C, true}}));
    std::string gpt = BuildWholeCard(TableKind::Gpt, 160, {{40, volume}, {60, volume}});
    corpus.Add("partition_table", "gpt", gpt);
    gpt[512 + 40] ^= 1; // the backup must stand in
    corpus.Add("partition_table", "gpt-damaged-primary", gpt);
}

// Mapfiles as ddrescue and an imaging run write them: every state, a status
// line with and without its pass.
void AddMapFiles(Corpus& corpus) {
    corpus.Add("mapfile", "ddrescue", "# Mapfile. Created by GNU ddrescue version 1.27\n"
                                      "# current_pos  current_status  current_pass\n0x000F0000     +               1\n"
                                      "#      pos        size  status\n0x00000000  0x00100000  +\n");
    corpus.Add("mapfile", "every-state", "0x00100200     /               2\n0x00000000  0x00100000  +\n"
                                         "0x00100000  0x00000600  -\n0x00100600  0x00001000  *\n"
                                         "0x00101600  0x00000200  /\n0x00101800  0x00010000  ?\n");
    corpus.Add("mapfile", "no-pass-decimal", "0 ?\n0 512 +\n512 01000 -\n");
}

// Clips as ffmpeg writes them (moov after mdat), whole and cut inside the
// mdat; their moov boxes alone for the tables. Hand-made boxes without ffmpeg.
void AddIsoMedia(Corpus& corpus) {
    const auto box = [](const std::string& type, const std::string& payload) {
        std::string made(4, '\0');
        PutBe32(made, 0, static_cast<uint32_t>(8 + payload.size()));
        return made + type + payload;
    };
    const std::string ftyp = box("ftyp", std::string("XAVC\0\0\0\0XAVCmp42", 16));
    corpus.Add("iso_boxes", "hand-made", ftyp + box("mdat", std::string(100, 'x')) + box("moov", box("mvhd", "")));
    corpus.Add("iso_boxes", "large-size", ftyp + std::string("\0\0\0\1mdat\0\0\0\0\0\0\0\x18", 16) +
                                              std::string(8, 'y') + box("moov", ""));
    const std::string meta = "<?xml version=\"1.0\"?>\r\n<NonRealTimeMeta>" + std::string(1100, ' ') + "</NonRealTimeMeta>\r\n";
    corpus.Add("clip_meta", "across-blocks", meta + std::string(512, '\0'));
    TestSupport::TempDir scratch("kalvory-fuzz-seeds");
    for (const char* brand : {"XAVC", "mp41", "qt  "}) {
        const auto clip = FfmpegClip(scratch.Path(), brand[0], brand, 12);
        if (!clip)
            return;
        const std::string name = brand[0] == 'q' ? "qt" : brand;
        corpus.Add("iso_boxes", name, *clip);
        corpus.Add("iso_boxes", name + "-cut", clip->substr(0, clip->size() / 2));
        const size_t moov = TopLevelBox(*clip, "moov");
        if (moov != std::string::npos) {
            corpus.Add("iso_sample_tables", name, clip->substr(moov) + clip->substr(0, moov));
            corpus.Add("iso_repair", name, clip->substr(moov) + clip->substr(0, moov));
        }
        // The clips' AAC is mono at 48 kHz; an MP4's mdat begins with a sound chunk.
        const size_t mdat = TopLevelBox(*clip, "mdat");
        if (brand[0] != 'q' && mdat != std::string::npos)
            for (const char flags : {'\0', '\1', '\2'})
                corpus.Add("iso_aac_frames", name + "-" + std::to_string(int(flags)),
                           std::string("\x11\x88") + flags + clip->substr(mdat + 8, 2048));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    Corpus corpus{fs::path(argv[1])};
    AddCards(corpus);
    AddMedia(corpus);
    AddClips(corpus);
    AddStreamRuns(corpus);
    AddPartitionTables(corpus);
    AddMapFiles(corpus);
    AddIsoMedia(corpus);
    return 0;
}
