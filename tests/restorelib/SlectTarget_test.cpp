// Which found entries become targets, decided by the first rule that applies.
#include <gtest/gtest.h>

#include "AVCHD_Files.h"
#include "Kalvory_Recover.h"
#include "RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"

namespace {

using namespace RestoreTest;
using FSAccessLib::DirEntry;

struct SelectionCase {
    const char* what;
    std::u16string folder; // the entry's parent folder under the root; empty: the root
    std::u16string name;
    bool isDirectory;
    bool carved;
    uint64_t length;
    bool selected;
};

class SlectTarget : public RestoreJobTest {};

TEST_F(SlectTarget, TheFirstDecidingRuleWins) {
    const uint64_t plausible = Kalvory::kSmallestPlausibleStream;
    const SelectionCase cases[] = {
        {"a folder", u"", u"DCIM", true, false, 0, true},
        {"a file without a dot", u"", u"ABC", false, false, 5, true},
        // What the directories give is selected as the directory search alone selects it.
        {"a dot file", u"", u"._A.DAT", false, false, 5, true},
        {"a name beginning with dots", u"", u"../../pw.txt", false, false, 5, true},
        {"an empty file", u"", u"A.TXT", false, false, 0, true},
        {"an editor's backup", u"", u"CLIP.XM~", false, false, 5, true},
        {"a picture outside a DCF folder", u"", u"IMGA0001.JPG", false, false, 5, true},
        {"a short stream the directories found", u"", u"00000.MTS", false, false, 10, true},
        // Carved entries go through the rules.
        {"a carved dot file", u"", u"._A.DAT", false, true, 5, true},
        {"a carved dot entry", u"", u"..", false, true, 5, false},
        {"a carved empty file", u"", u"A.TXT", false, true, 0, false},
        {"the empty thumbnail table", u"", u"THUMB.TDT", false, true, 0, true},
        {"a carved editor's backup", u"", u"CLIP.XM~", false, true, 5, false},
        {"a short carved stream", u"", u"00001000.MTS", false, true, plausible - 1, false},
        {"a carved stream past the medium", u"", u"00001000.MTS", false, true, plausible + (64 << 20), false},
        {"a plausible carved stream", u"", u"00001000.MTS", false, true, plausible, true},
        {"a carved picture outside a DCF folder", u"", u"IMGA0001.JPG", false, true, 5, false},
        {"a carved picture in a DCF folder", u"100CDPFP", u"IMGA0001.JPG", false, true, 5, true},
    };
    const fs::path medium = dir / "medium.img";
    TestSupport::WriteFileBytes(medium, std::string(plausible + 4096, '\x47'));
    Restore::ProgressFileStream source(Wide(medium), AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
    for (const SelectionCase& c : cases) {
        DirEntry root;
        DirEntry entry("", "");
        entry.name = c.name;
        entry.isDirectory = c.isDirectory;
        entry.carved = c.carved;
        entry.length = c.length;
        if (c.folder.empty()) {
            root.children.push_back(entry);
        } else {
            DirEntry folder;
            folder.name = c.folder;
            folder.children.push_back(entry);
            root.children.push_back(folder);
        }
        root.Relink(nullptr);
        Kalvory::CommandSlectTarget select(&source);
        root.Apply(select);
        const DirEntry& judged = c.folder.empty() ? root.children[0] : root.children[0].children[0];
        EXPECT_EQ(judged.target, c.selected) << c.what;
        EXPECT_EQ(select.count, c.selected && !c.isDirectory ? 1 : 0) << c.what << ": files are counted";
    }
}

TEST_F(SlectTarget, SectorStrategiesCountSelectedFoldersToo) {
    // Only two empty folders on a card: the directory-and-sector search returns 2.
    TestSupport::FatImageBuilder builder(TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat12));
    builder.AddFolder("DCIM");
    builder.AddFolder("MISC");
    const fs::path card = dir / "folders.img";
    builder.Build().WriteTo(card);
    Restore::RestoreMain job(1, Wide(card));
    Completion completion;
    ASSERT_EQ(VerifyNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
    EXPECT_EQ(job.Strategy()->TargetCount(), 2);
}

} // namespace
