// Seeded random layouts of what a camcorder leaves on a quick-formatted card:
// Exif stills, AVCHD streams and DV clips (icon, AVI, PCM files, XML) at any
// sector, back to back, after gaps, in the last 64 KiB of a scan read and
// across read boundaries. The sector search alone must give every one of
// them back byte for byte under its camcorder name, and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "AAA_ByteRanges.h"
#include "AAA_FileStream.h"

#include "CardReadCount.h"
#include "RestoreJobTestSupport.h"
#include "support/DvClipWriter.h"
#include "support/FatImageBuilder.h"
#include "support/MediaSamples.h"
#include "support/MtoolsHelpers.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace RestoreTest;
using Files = std::map<std::string, std::string>;

constexpr uint64_t kSector = 512;
constexpr uint64_t kScanRead = 0x100000;
constexpr uint64_t kMinStream = 1179648; // shorter streams are not kept

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kDefaultLayouts = 30;
#else
constexpr int kDefaultLayouts = 150;
#endif

// KALVORY_LAYOUTS=N runs N layouts (the soak script asks for thousands).
int LayoutCount() {
    const char* asked = std::getenv("KALVORY_LAYOUTS");
    return asked ? std::atoi(asked) : kDefaultLayouts;
}

// Length and digest, so that a difference reads short.
std::string Digest(const std::string& bytes) {
    return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>{}(bytes));
}

// SOI, an Exif APP1, tables, a frame, a scan of `scanBytes` with stuffed
// 0xFF bytes and restart markers, EOI.
std::string ExifStill(std::mt19937_64& random, size_t scanBytes) {
    std::string picture("\xFF\xD8\xFF\xE1\x00\x08" "Exif\0\0", 12);
    picture += std::string("\xFF\xDB\x00\x43\x00", 5);
    for (int i = 0; i < 64; ++i)
        picture += static_cast<char>(1 + random() % 50);
    picture += std::string("\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x01\x01\x11\x00", 13);
    picture += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    for (size_t i = 0; i < scanBytes; ++i) {
        const auto byte = static_cast<char>(random());
        picture += byte;
        if (byte == '\xFF')
            picture += '\0';
        if (random() % 4096 == 0)
            picture += std::string("\xFF", 1) + static_cast<char>(0xD0 + random() % 8);
    }
    return picture + "\xFF\xD9";
}

enum class Kind { Still, Stream, Clip };

struct Item {
    Kind kind;
    uint64_t offset = 0; // in the volume
    std::string bytes;   // stills and streams
    TestSupport::DvClipLayout clip{};
    uint64_t Span() const { return kind == Kind::Clip ? clip.span : bytes.size(); }
};

Item MakeItem(std::mt19937_64& random, uint32_t number) {
    const uint64_t roll = random() % 10;
    if (roll < 5)
        return {Kind::Still, 0, ExifStill(random, 500 + random() % 150000)};
    if (roll < 8) {
        // A whole number of 6,144-byte aligned units, as a camcorder writes.
        const size_t packets = kMinStream / 192 + 32 * (random() % 100);
        const auto fill = static_cast<uint8_t>(0x10 + number % 64);
        return {Kind::Stream, 0, TestSupport::SourcePackets(packets, 1000 + number * 7, 2256, fill)};
    }
    using enum TestSupport::DvGapPlace;
    const TestSupport::DvGapPlace places[] = {FrameStart, DifSequence, Audio, SecondJunk};
    TestSupport::DvClipOptions options{.system = random() % 2 ? TestSupport::DvVideoSystem::Ntsc
                                                              : TestSupport::DvVideoSystem::Pal,
                                       .frames = 20 + static_cast<uint32_t>(random() % 30),
                                       .gaps = {{places[random() % 4], 1}},
                                       .seed = static_cast<uint8_t>(number)};
    try {
        return {Kind::Clip, 0, {}, TestSupport::WriteDvClip(options)};
    } catch (const std::logic_error&) { // no frame of this short clip has that place
        options.gaps.clear();
        return {Kind::Clip, 0, {}, TestSupport::WriteDvClip(options)};
    }
}

// Where the next item goes: right after the last, after a gap, at a sector
// of the last 64 KiB of a scan read, or straddling the end of one.
uint64_t PickOffset(std::mt19937_64& random, uint64_t after, uint64_t dataStart) {
    const uint64_t roll = random() % 4;
    if (roll == 0)
        return after;
    if (roll == 1)
        return after + (1 + random() % 600) * kSector;
    const uint64_t read = dataStart + ((after - dataStart) / kScanRead + 1) * kScanRead;
    const uint64_t back = roll == 2 ? 1 + random() % (0x10000 / kSector) : 1 + random() % 8;
    return std::max(after, read - back * kSector);
}

struct Layout {
    std::vector<Item> items;
    Files expected;
};

Layout MakeLayout(uint64_t seed, uint64_t dataStart, uint64_t volumeEnd) {
    std::mt19937_64 random(seed);
    Layout layout;
    uint64_t at = dataStart + kSector * 64; // clear of the root folder
    const int count = 1 + static_cast<int>(random() % 9);
    for (int i = 0; i < count; ++i) {
        Item item = MakeItem(random, static_cast<uint32_t>(seed * 16 + i));
        item.offset = PickOffset(random, at, dataStart);
        if (item.offset + item.Span() > volumeEnd)
            break;
        at = item.offset + (item.Span() + kSector - 1) / kSector * kSector;
        layout.items.push_back(std::move(item));
    }
    int stills = 0, streams = 0, clips = 0;
    char name[64];
    for (const Item& item : layout.items) {
        if (item.kind == Kind::Still) {
            std::snprintf(name, sizeof name, "DCIM/100CDPFP/IMGA%04d.JPG", ++stills);
            layout.expected[name] = Digest(item.bytes);
        } else if (item.kind == Kind::Stream) {
            std::snprintf(name, sizeof name, "PRIVATE/AVCHD/BDMV/STREAM/%05d.MTS", streams++);
            layout.expected[name] = Digest(item.bytes);
        } else {
            std::snprintf(name, sizeof name, "%03dXX00", ++clips);
            for (const auto& [path, bytes] : TestSupport::DvClipSavedFiles(item.clip, name))
                layout.expected[path] = Digest(bytes);
        }
    }
    return layout;
}

std::string Describe(const Layout& layout) {
    std::string text;
    for (const Item& item : layout.items) {
        const char* kinds[] = {"still", "stream", "clip"};
        char line[96];
        std::snprintf(line, sizeof line, "%s at 0x%llX (%llu bytes); ", kinds[static_cast<int>(item.kind)],
                      static_cast<unsigned long long>(item.offset), static_cast<unsigned long long>(item.Span()));
        text += line;
    }
    return text;
}

class CarvedLayouts : public RestoreJobTest {
protected:
    // An empty card as a quick format leaves it: FAT32, 512-byte sectors.
    void MakeFormattedCard() {
        const auto options = TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat32);
        TestSupport::FatImageBuilder(options).Build().WriteTo(image);
        if (TestSupport::HaveFatTools()) { // the formatter's own layout, where there is one
            ASSERT_EQ(TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"}).exitCode, 0);
        }
        Kalvory::Kalvory_Directory card(Wide(image));
        dataStart = card.Reader().startOfDataArea;
        volumeEnd = card.Reader().totalBytes;
    }

    enum class Fill { Media, Zeros };
    void Put(const Layout& layout, Fill fill) {
        SearchPieces(layout, [&](uint64_t at, const std::string& bytes) {
            WritePiece(at, fill == Fill::Media ? bytes : std::string(bytes.size(), '\0'));
        });
    }

    template <class Each>
    static void SearchPieces(const Layout& layout, Each each) {
        for (const Item& item : layout.items) {
            if (item.kind != Kind::Clip)
                each(item.offset, item.bytes);
            else
                for (const auto& [offset, piece] : item.clip.pieces)
                    each(item.offset + offset, piece);
        }
    }

    void WritePiece(uint64_t at, const std::string& bytes) {
        std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(at));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Staged: the destination is known before the search, which keeps what it
    // reads of found files for the save; otherwise the save reads them again.
    enum class Staging { Before, After };
    Files RecoverBySectors(Staging staging) {
        const fs::path out = dir / "out";
        fs::remove_all(out);
        fs::create_directories(out);
        Kalvory::Kalvory_Sector strategy(Wide(image));
        if (staging == Staging::Before)
            strategy.SetDestination(Wide(out));
        strategy.Verify();
        if (staging == Staging::After)
            strategy.SetDestination(Wide(out));
        strategy.Save();
        Files saved;
        for (const auto& [path, bytes] : FilesUnder(out))
            saved[path] = Digest(bytes);
        return saved;
    }

    fs::path image = dir / "card.img";
    uint64_t dataStart = 0;
    uint64_t volumeEnd = 0;
};

TEST_F(CarvedLayouts, TheSectorSearchGivesBackEveryFileAndNothingElse) {
    MakeFormattedCard();
    const int layouts = LayoutCount();
    int failures = 0;
    for (int seed = 1; seed <= layouts && failures < 3; ++seed) {
        const Layout layout = MakeLayout(static_cast<uint64_t>(seed), dataStart, volumeEnd);
        Put(layout, Fill::Media);
        const bool staged = seed % 2 == 1;
        CardReads::Start(image);
        const Files saved = RecoverBySectors(staged ? Staging::Before : Staging::After);
        const CardReads reads = CardReads::Stop();
        Put(layout, Fill::Zeros); // the next layout starts from an empty card again
        EXPECT_EQ(saved, layout.expected) << "layout " << seed << ": " << Describe(layout);
        failures += saved != layout.expected;
        if (staged) {
            // Read twice only where a signature led nowhere, a read ran past a
            // file's end, or a DV clip's frames lay where the scan had passed.
            uint64_t clipBytes = 0;
            for (const Item& item : layout.items)
                clipBytes += item.kind == Kind::Clip ? item.Span() + kScanRead : 0;
            const uint64_t bound = reads.once / 50 + 2 * kScanRead + clipBytes;
            EXPECT_LE(reads.twice, bound) << "layout " << seed << ": " << Describe(layout);
            failures += reads.twice > bound;
        }
    }
}

} // namespace
