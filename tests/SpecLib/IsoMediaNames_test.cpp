// Where carved clips go: XAVC S clips after the clip numbers the card's CLIP
// folder holds, the others into the DCF tree with the stills, a QuickTime
// clip as .MOV; a start whose moov never turns up is left out.
#include <gtest/gtest.h>

#include "IsoMediaFilingSupport.h"
#include "support/IsoMediaSamples.h"
#include "support/TempDir.h"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;

std::string Box(const std::string& type, const std::string& payload) {
    std::string box(4, '\0');
    PutBe32(box, 0, static_cast<uint32_t>(8 + payload.size()));
    return box + type + payload;
}

// What the tree holds at `path` ('\'-separated below the root), selected.
const DirEntry* Selected(const DirEntry& root, const std::u16string& path) {
    const DirEntry* at = &root;
    for (size_t from = 0; at != nullptr && from <= path.size();) {
        const size_t to = std::min(path.find(u'\\', from), path.size());
        const std::u16string name = path.substr(from, to - from);
        const DirEntry* next = nullptr;
        for (const DirEntry& child : at->children)
            if (child.name == name && (child.target || child.isDirectory))
                next = &child;
        at = next;
        from = to + 1;
    }
    return at;
}

TEST(IsoMediaNames, ClipsGoUnderTheirCamcordersFoldersAfterTheNumbersThere) {
    TestSupport::TempDir dir("kalvory-iso-names");
    const auto xavc = TestSupport::FfmpegClip(dir.Path(), 1, "XAVC", 20);
    const auto action = TestSupport::FfmpegClip(dir.Path(), 2, "mp41", 20);
    const auto quickTime = TestSupport::FfmpegClip(dir.Path(), 3, "qt  ", 20);
    if (!xavc || !action || !quickTime)
        GTEST_SKIP() << "ffmpeg is needed";
    const std::string ftyp = Box("ftyp", std::string("mp42\0\0\0\0mp42isom", 16));
    // Whole by its boxes, but a moov without tracks: kept as carved.
    const std::string trackless = ftyp + Box("mdat", std::string(3000, '\x42')) + Box("moov", Box("mvhd", std::string(100, '\0')));
    // An mdat that runs into free space and no moov anywhere.
    const std::string head = ftyp + Box("mdat", std::string(4000, '\x42')).substr(0, 600);
    const fs::path image = dir / "card.img";
    ImageWriter card(image, 4 << 20);
    const uint64_t places[] = {64 << 10, 512 << 10, 1 << 20, 1536 << 10, 2 << 20};
    const std::string* files[] = {&*xavc, &*action, &*quickTime, &trackless, &head};
    for (size_t i = 0; i < std::size(places); ++i)
        card.Put(places[i], *files[i]);
    RawVolume volume(image, 0, 512);
    DirEntry root;
    const Kalvory::IsoMediaFiling filing = SearchAndFileClips(volume, root);
    EXPECT_EQ(filing.clips, 1);
    EXPECT_EQ(filing.dropped, 1);
    const std::pair<const char16_t*, const std::string*> expected[] = {
        {u"PRIVATE\\M4ROOT\\CLIP\\C0008.MP4", &*xavc},
        {u"DCIM\\100CDPFP\\IMGA0001.MP4", &*action},
        {u"DCIM\\100CDPFP\\IMGA0002.MOV", &*quickTime},
        {u"DCIM\\100CDPFP\\IMGA0003.MP4", &trackless},
    };
    for (const auto& [path, bytes] : expected) {
        const DirEntry* found = Selected(root, path);
        ASSERT_NE(found, nullptr) << AAA::ToUtf8(path);
        EXPECT_EQ(found->length, bytes->size()) << AAA::ToUtf8(path);
    }
    for (const DirEntry& child : root.children)
        EXPECT_FALSE(child.target && !child.isDirectory) << AAA::ToUtf8(child.name) << " left selected under the root";
}

} // namespace
