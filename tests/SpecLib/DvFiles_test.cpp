// The clip XML's length, and how a formatted card's clip files are named and
// filed from the order the search carved them in.
#include <gtest/gtest.h>

#include <algorithm>

#include "AAA_Stream.h"
#include "Commands.h"
#include "DV_Files.h"

namespace {

using FSAccessLib::DirEntry;

const std::string kXmlHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n"
    "<Q7Main xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns=\"urn:schemas-Vantoria:SD:ClipMetadata:v1.0\">";

// The header, a body of `bodyBytes` blanks, the end tag and a line feed, then
// what follows the file in its unit.
std::string Xml(size_t bodyBytes, const std::string& header = kXmlHeader) {
    return header + std::string(bodyBytes, ' ') + "</Q7Main>\n" + std::string(2048, 'z');
}

TEST(XmlLength, EndsOneByteAfterTheEndTag) {
    struct Case {
        const char* what;
        std::string bytes;
        uint64_t length;
    };
    const size_t header = kXmlHeader.size();
    std::string otherNamespace = kXmlHeader;
    otherNamespace[otherNamespace.find("v1.0")] = 'w';
    const Case cases[] = {
        {"in the first window", Xml(100), header + 100 + 10},
        {"tag across the first window's end", Xml(1018 - header), 1028},
        {"tag ends at the last window before 64 KiB", Xml(65000 - header), 65010},
        {"tag past 64 KiB", Xml(66000 - header), 0},
        {"another root element namespace", Xml(100, otherNamespace), 0},
        {"declaration without standalone", Xml(100, std::string(kXmlHeader).erase(37, 17)), 0},
        {"shorter than one window", Xml(100).substr(0, 1000), 0},
        {"medium ends before the tag", Xml(3000).substr(0, 2500), 0},
    };
    for (const Case& c : cases) {
        AAA::MemoryStream stream(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(Kalvory::XmlLength(stream, 0), c.length) << c.what;
    }
}

// A root of carved files named by kind: "BMP", "AVI", "AVI+" (dvMarked),
// "PCM", "XML" or a whole name; every one selected.
DirEntry CarvedRoot(const std::vector<std::string>& kinds) {
    DirEntry root;
    uint32_t sector = 0x100;
    for (const std::string& kind : kinds) {
        const bool marked = kind == "AVI+";
        const std::string extension = marked ? "AVI" : kind;
        DirEntry entry = kind.size() > 4 ? DirEntry(kind.substr(0, kind.find('.')), kind.substr(kind.find('.') + 1))
                                         : DirEntry(std::to_string(sector++) + "1", extension);
        entry.carved = entry.target = true;
        entry.dvMarked = marked;
        entry.length = 1000;
        root.children.push_back(entry);
    }
    root.Relink(nullptr);
    return root;
}

// The paths that would be saved, sorted.
std::vector<std::string> Saved(DirEntry& root) {
    struct Collect : FSAccessLib::Command {
        void Execute(DirEntry& entry) override {
            if (entry.target && !entry.isDirectory)
                paths.push_back(AAA::ToUtf8(entry.FullPath()));
        }
        std::vector<std::string> paths;
    } collect;
    root.Apply(collect);
    std::sort(collect.paths.begin(), collect.paths.end());
    return collect.paths;
}

std::vector<std::string> ClipFiles(const std::string& base, bool xml = true) {
    const std::string etc = "\\PRIVATE\\QORVALIN\\SBGDVSD\\ETC\\";
    std::vector<std::string> files = {etc + "AUDIO\\" + base + "0.PCM", etc + "AUDIO\\" + base + "1.PCM",
                                      etc + "ICON\\" + base + ".BMP", "\\PRIVATE\\QORVALIN\\SBGDVSD\\VIDEO\\" + base + ".AVI"};
    if (xml)
        files.push_back(etc + "CLIP\\" + base + ".XML");
    return files;
}

std::vector<std::string> Join(std::vector<std::vector<std::string>> groups) {
    std::vector<std::string> all;
    for (const auto& group : groups)
        all.insert(all.end(), group.begin(), group.end());
    return all;
}

std::vector<std::string> Sorted(std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(RenameFormattedDvFiles, NamesClipsAndPartsFromTheCarvingOrder) {
    const std::string video = "\\PRIVATE\\QORVALIN\\SBGDVSD\\VIDEO\\";
    struct Case {
        const char* what;
        std::vector<std::string> root;
        std::vector<std::string> saved;
    };
    const std::vector<std::string> clip = {"BMP", "AVI", "PCM", "PCM", "XML"};
    const std::vector<std::string> marked = {"BMP", "AVI+", "PCM", "PCM", "XML"};
    const Case cases[] = {
        {"one clip", clip, ClipFiles("001XX00")},
        {"a marked clip goes on as the next part", Join({marked, clip}),
         Join({ClipFiles("001XX00"), ClipFiles("001XX01")})},
        {"an unmarked clip is followed by the next clip", Join({clip, marked, clip}),
         Join({ClipFiles("001XX00"), ClipFiles("002XX00"), ClipFiles("002XX01")})},
        {"no XML: the next clip", {"BMP", "AVI+", "PCM", "PCM", "BMP", "AVI", "PCM", "PCM"},
         Join({ClipFiles("001XX00", false), ClipFiles("002XX00", false)})},
        {"a lone AVI after a part starts a clip", Join({marked, {"AVI"}}),
         Join({ClipFiles("001XX00"), {video + "002XX00.AVI"}})},
        {"files whose names only contain AVI stay", {"DAVID.JPG", "BMP", "AVI", "PCM", "PCM", "XML", "AVIS.TXT"},
         Join({ClipFiles("001XX00"), {"\\AVIS.TXT", "\\DAVID.JPG"}})},
    };
    for (const Case& c : cases) {
        DirEntry root = CarvedRoot(c.root);
        Kalvory::RenameFormattedDvFiles(root);
        EXPECT_EQ(Saved(root), Sorted(c.saved)) << c.what;
    }
}

TEST(RenameFormattedDvFiles, SkipsClipNumbersTheCardHasAlready) {
    DirEntry root = CarvedRoot({"BMP", "AVI", "PCM", "PCM", "XML"});
    DirEntry folder;
    folder.isDirectory = folder.target = true;
    DirEntry live("001XX00", "AVI");
    live.target = true;
    for (const char16_t* name : {u"VIDEO", u"SBGDVSD", u"QORVALIN", u"PRIVATE"}) {
        folder.name = name;
        folder.children = {live};
        live = folder;
    }
    root.children.insert(root.children.begin(), live);
    root.Relink(nullptr);
    Kalvory::RenameFormattedDvFiles(root);
    EXPECT_EQ(Saved(root), Sorted(Join({ClipFiles("002XX00"), {"\\PRIVATE\\QORVALIN\\SBGDVSD\\VIDEO\\001XX00.AVI"}})));
}

} // namespace
