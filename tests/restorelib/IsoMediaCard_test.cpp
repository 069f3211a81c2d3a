// A quick-formatted FAT32 card of an XAVC S camcorder and an action camera:
// three clips under PRIVATE/M4ROOT/CLIP (the third written in two fragments
// around the second) and one under DCIM/100GOPRO, with the first clip's
// thumbnail and the action clip's low-resolution copy and thumbnail. The
// default mode gives each back at its path; the sector mode under the
// camcorders' names.
#include <gtest/gtest.h>

#include <set>

#include "RestoreJobTestSupport.h"
#include "support/IsoMediaSamples.h"
#include "support/MtoolsHelpers.h"

namespace {

using namespace RestoreTest;

const std::string kClipFolder = "PRIVATE/M4ROOT/CLIP/";
const std::string kActionClip = "DCIM/100GOPRO/GX010001.MP4";
const std::string kThumbnail = "PRIVATE/M4ROOT/THMBNL/C0001T01.JPG";
const std::string kSidecar = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                             "<NonRealTimeMeta xmlns=\"urn:schemas-professionalDisc:nonRealTimeMeta:ver.2.00\">\r\n"
                             "<Duration value=\"55\"/>\r\n</NonRealTimeMeta>\r\n";

class IsoMediaCard : public RestoreJobTest {
protected:
    void SetUp() override {
        if (!TestSupport::HaveFatTools() || !TestSupport::FindTool("ffmpeg"))
            GTEST_SKIP() << "mkfs.fat, mtools and ffmpeg are needed";
        // The action clip's picture (seed 7) is 144x80, its copy's (seed 12) 96x64.
        for (int seed = 1; seed <= 4; ++seed) {
            const auto clip = TestSupport::FfmpegClip(dir.Path(), seed == 4 ? 7 : seed, seed == 4 ? "mp41" : "XAVC",
                                                      40 + 15 * seed);
            ASSERT_TRUE(clip.has_value());
            clips.push_back(*clip);
        }
        const auto copy = TestSupport::FfmpegClip(dir.Path(), 12, "mp41", 100);
        const auto sony = TestSupport::FfmpegPicture(dir.Path(), "160x90");
        const auto action = TestSupport::FfmpegPicture(dir.Path(), "160x120");
        ASSERT_TRUE(copy && sony && action);
        companions = {{kThumbnail, *sony}, {Stem(kActionClip) + ".LRV", *copy}, {Stem(kActionClip) + ".THM", *action}};
        WriteCard();
    }

    void Format() {
        const auto made = TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"});
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }

    void Mtool(const std::string& tool, std::vector<std::string> arguments) {
        std::vector<std::string> argv{"env", "MTOOLS_SKIP_CHECK=1", tool, "-i", image.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const auto result = TestSupport::RunCommand(argv);
        ASSERT_EQ(result.exitCode, 0) << tool << ": " << result.output;
    }

    void Put(const std::string& path, const std::string& bytes) {
        const fs::path host = dir / fs::path(path).filename().string();
        TestSupport::WriteFileBytes(host, bytes);
        Mtool("mcopy", {host.string(), "::" + path});
    }

    // FAT32 keeps a next-free hint; without it a file starts in the first hole.
    void ForgetFreeHint() {
        std::string bytes = TestSupport::ReadFileBytes(image);
        ASSERT_EQ(bytes.substr(512, 4), "RRaA");
        bytes.replace(512 + 492, 4, std::string(4, '\xFF'));
        TestSupport::WriteFileBytes(image, bytes);
    }

    void WriteCard() {
        TestSupport::WriteFileBytes(image, "");
        fs::resize_file(image, 64u << 20);
        Format();
        for (const char* folder :
             {"PRIVATE", "PRIVATE/M4ROOT", "PRIVATE/M4ROOT/CLIP", "PRIVATE/M4ROOT/THMBNL", "DCIM", "DCIM/100GOPRO"})
            Mtool("mmd", {std::string("::") + folder});
        Put(kClipFolder + "C0001.MP4", clips[0]);
        Put(kClipFolder + "C0001M01.XML", kSidecar);
        Put(kThumbnail, companions[0].second);
        // A file deleted before the third clip leaves a hole the clip fills first.
        Put("DCIM/100GOPRO/GOPR0000.JPG", Pattern(clips[2].size() / 2, 9));
        Put(kClipFolder + "C0002.MP4", clips[1]);
        Mtool("mdel", {"::DCIM/100GOPRO/GOPR0000.JPG"});
        ForgetFreeHint();
        Put(kClipFolder + "C0003.MP4", clips[2]);
        Put(kActionClip, clips[3]);
        Put(companions[1].first, companions[1].second);
        Put(companions[2].first, companions[2].second);
        const auto runs = TestSupport::RunCommand(
            {"env", "MTOOLS_SKIP_CHECK=1", "mshowfat", "-i", image.string(), "::" + kClipFolder + "C0003.MP4"});
        ASSERT_NE(runs.output.find("> <"), std::string::npos) << "the third clip is in one piece: " << runs.output;
        Format(); // a quick format: new tables and root, the data left where it was
    }

    std::map<std::string, std::string> Recover(Restore::StrategyType mode) {
        Restore::RestoreMain job(static_cast<int32_t>(mode), Wide(image));
        EXPECT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
        const fs::path out = Destination();
        job.SetDestination(Wide(out));
        Completion completion;
        EXPECT_EQ(VerifyNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        EXPECT_EQ(SaveNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        return FilesUnder(out);
    }

    static std::string Stem(const std::string& path) { return path.substr(0, path.size() - 4); }

    fs::path image = dir / "card.img";
    std::vector<std::string> clips;
    std::vector<std::pair<std::string, std::string>> companions; // path, bytes: the thumbnail, the copy, its thumbnail
};

TEST_F(IsoMediaCard, TheDefaultModeGivesEveryClipBackAtItsPath) {
    const auto recovered = Recover(Restore::StrategyType::DirAndSector);
    for (int n = 1; n <= 3; ++n) {
        const std::string path = kClipFolder + "C000" + std::to_string(n) + ".MP4";
        const auto found = recovered.find(path);
        ASSERT_NE(found, recovered.end()) << path;
        EXPECT_TRUE(found->second == clips[static_cast<size_t>(n - 1)]) << path << " differs";
    }
    ASSERT_EQ(recovered.count(kActionClip), 1u);
    EXPECT_TRUE(recovered.at(kActionClip) == clips[3]);
    ASSERT_EQ(recovered.count(kClipFolder + "C0001M01.XML"), 1u);
    EXPECT_EQ(recovered.at(kClipFolder + "C0001M01.XML"), kSidecar);
    // The thumbnail under THMBNL too, though it is a JPEG outside the DCF folders.
    for (const auto& [path, bytes] : companions) {
        ASSERT_EQ(recovered.count(path), 1u) << path;
        EXPECT_TRUE(recovered.at(path) == bytes) << path << " differs";
    }
}

TEST_F(IsoMediaCard, TheSectorModeFilesTheClipsUnderTheCamcordersNames) {
    const auto recovered = Recover(Restore::StrategyType::Sector);
    std::set<std::string> camcorder, others;
    for (const auto& [path, bytes] : recovered) {
        if (path.rfind(kClipFolder, 0) == 0 && path.size() == kClipFolder.size() + 9 && path.substr(path.size() - 4) == ".MP4")
            camcorder.insert(bytes);
        else if (path.rfind("DCIM/", 0) == 0 && path.substr(path.size() - 4) == ".MP4")
            others.insert(bytes);
    }
    EXPECT_EQ(camcorder, (std::set<std::string>{clips[0], clips[1], clips[2]}));
    // The document follows the first clip on the card, whatever number that clip got.
    // So does the thumbnail, in THMBNL; the action clip's copy and thumbnail take its DCF number.
    std::string first, action;
    for (const auto& [path, bytes] : recovered) {
        if (bytes == clips[0])
            first = Stem(path);
        if (bytes == clips[3])
            action = Stem(path);
    }
    ASSERT_EQ(recovered.count(first + "M01.XML"), 1u) << first;
    EXPECT_EQ(recovered.at(first + "M01.XML"), kSidecar);
    const std::string number = first.substr(first.size() - 5);
    const std::pair<std::string, const std::string*> beside[] = {{"PRIVATE/M4ROOT/THMBNL/" + number + "T01.JPG", &companions[0].second},
                                                                 {action + ".LRV", &companions[1].second},
                                                                 {action + ".THM", &companions[2].second}};
    for (const auto& [path, bytes] : beside) {
        ASSERT_EQ(recovered.count(path), 1u) << path;
        EXPECT_TRUE(recovered.at(path) == *bytes) << path << " differs";
    }
    EXPECT_EQ(others, (std::set<std::string>{clips[3]}));
    EXPECT_EQ(recovered.size(), 3u + 1u + 1u + 3u) << "clips, the document, the thumbnail, the action companions";
}

} // namespace
