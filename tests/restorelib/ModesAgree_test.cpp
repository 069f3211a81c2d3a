// The default mode adds the sector scan to the directory search: on every
// card it gives back at least every file the directory search alone gives.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "RestoreJobTestSupport.h"
#include "support/ExFatImageBuilder.h"
#include "support/MediaSamples.h"
#include "support/SmallCards.h"

namespace {

using namespace RestoreTest;
using TestSupport::CardSystem;

// Names a card may hold, among them those a selection rule could take for
// something else: dot-prefixed names, empty files, editor backups, pictures
// outside a DCF folder.
const char* const kFolders[] = {"DCIM/100CDPFP", "DCIM/100CDPFP", "PRIVATE/AVCHD/BDMV/STREAM", "MISC", ".Trashes", ""};
const char* const kNames[] = {"IMGA0001.JPG", "IMGA0002.JPG", "IMGA0003.JPG", "00000.MTS",   "00001.MTS",
                              "._A.DAT",      ".hidden",      "..x.txt",      "A.TXT",       "CLIP.XM~",
                              "ROOT.JPG",     "NOTE",         "..\\..\\pw.txt"};

std::vector<TestSupport::CardItem> RandomCard(CardSystem system, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<TestSupport::CardItem> items;
    std::set<std::string> paths;
    const int count = 4 + static_cast<int>(random() % 10);
    for (int i = 0; i < count; ++i) {
        const std::string folder = kFolders[random() % std::size(kFolders)];
        const std::string name = kNames[random() % std::size(kNames)];
        if (name.find('\\') != std::string::npos && system != CardSystem::ExFat)
            continue; // FAT names hold no backslash
        const std::string path = folder.empty() ? name : folder + "/" + name;
        if (!paths.insert(path).second)
            continue;
        const size_t size = name == "A.TXT" ? 0 : 64 + random() % 3000;
        // Deleted files hold their own data or, now and then, foreign bytes.
        const bool foreign = random() % 4 == 0;
        TestSupport::CardItem item{path, TestSupport::MediaShaped(foreign ? "X.BIN" : name, size, seed + i)};
        item.deleted = random() % 3 == 0;
        items.push_back(std::move(item));
    }
    return items;
}

class ModesAgree : public RestoreJobTest {
protected:
    std::map<std::string, std::string> Recover(const fs::path& image, int type) {
        Restore::RestoreMain job(type, Wide(image));
        EXPECT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
        const fs::path out = dir / ("out" + std::to_string(type) + "-" + std::to_string(run_++));
        fs::create_directories(out);
        job.SetDestination(Wide(out));
        Completion completion;
        if (VerifyNow(job, completion) == 0) {
            EXPECT_EQ(SaveNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        }
        return FilesUnder(out);
    }

    // Every file of the directory mode comes back from the default mode, byte for byte.
    void ExpectDefaultHoldsDirectory(const fs::path& image, const std::string& what) {
        const std::map<std::string, std::string> directory = Recover(image, 0);
        const std::map<std::string, std::string> both = Recover(image, 1);
        for (const auto& [path, bytes] : directory) {
            const auto found = both.find(path);
            ASSERT_NE(found, both.end()) << what << ": " << path << " only in the directory mode";
            EXPECT_TRUE(found->second == bytes) << what << ": " << path << " differs";
        }
    }

    int run_ = 0;
};

TEST_F(ModesAgree, TheDefaultModeGivesEveryFileTheDirectoryModeGives) {
    for (CardSystem system : {CardSystem::Fat12, CardSystem::Fat16, CardSystem::Fat32, CardSystem::ExFat}) {
        for (uint32_t seed = 1; seed <= 5; ++seed) {
            const std::string what = std::string(TestSupport::CardSystemName(system)) + " seed " + std::to_string(seed);
            const fs::path image = dir / "card.img";
            const std::vector<uint8_t> bytes = TestSupport::BuildSmallCard(system, RandomCard(system, seed)).bytes;
            TestSupport::WriteFileBytes(image, std::string(bytes.begin(), bytes.end()));
            ExpectDefaultHoldsDirectory(image, what);
            if (HasFatalFailure())
                return;
        }
    }
}

// exFAT names may begin with dots and hold both slashes; they are names, not
// the folder's own "." and ".." entries.
TEST_F(ModesAgree, NamesBeginningWithDotsComeBackInTheDefaultMode) {
    TestSupport::ExFatImageBuilder card;
    const std::map<std::string, std::string> files = {
        {"DCIM/100CDPFP/IMGA0001.JPG", TestSupport::ExifJpeg(3000, 1)},
        {"DCIM/100CDPFP/IMGA0002.JPG", TestSupport::ExifJpeg(4000, 2)},
        {"DCIM/README.TXT", "read me"},
        {"DCIM/NOTES.TXT", "notes"},
        {"DCIM/..X..Xpw.txt", "slashes"},
        {"DCIM/..\\..\\pw.txt", "backslashes"},
    };
    for (const auto& [path, bytes] : files)
        card.AddFile(path, bytes);
    // The builder splits paths at '/': the forward slashes go in afterwards.
    const uint64_t nameEntry = card.Describe("DCIM/..X..Xpw.txt").entryOffset + 64;
    for (const uint64_t unit : {2u, 5u})
        card.WriteRaw(nameEntry + 2 + 2 * unit, {'/', 0});
    const fs::path image = dir / "dots.img";
    card.WriteTo(image);

    ExpectDefaultHoldsDirectory(image, "dot names");
    std::multiset<std::string> contents;
    for (const auto& [path, bytes] : Recover(image, 1))
        contents.insert(bytes);
    std::multiset<std::string> written;
    for (const auto& [path, bytes] : files)
        written.insert(bytes);
    EXPECT_EQ(contents, written) << "every file once, the two dot names under safe names";
}

} // namespace
