// The directory strategy through the job: what it selects, what it renames, the
// order of its steps in the log, and that the card is only ever read.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Commands.h"
#include "Kalvory_Recover.h"
#include "RestoreJobTestSupport.h"
#include "support/MediaSamples.h"
#include "support/ExFatImageBuilder.h"
#include "support/FatImageBuilder.h"

namespace {

using namespace RestoreTest;
using FSAccessLib::DirEntry;
using TestSupport::FatImageBuilder;
using TestSupport::FatType;
using TestSupport::FatVolumeOptions;

struct SeenEntry {
    std::string path;
    bool folder;
    bool target;
};

class CollectEntries : public FSAccessLib::Command {
public:
    void Execute(DirEntry& entry) override {
        seen.push_back({AAA::ToUtf8(entry.FullPath()), entry.isDirectory, entry.target});
    }
    std::vector<SeenEntry> seen;
};

std::vector<SeenEntry> EntriesOf(Restore::RestoreMain& job) {
    CollectEntries collect;
    job.Strategy()->Root().Apply(collect);
    return collect.seen;
}

class DirectoryStrategy : public RestoreJobTest {
protected:
    fs::path TwoFoldersThreeFiles() {
        FatImageBuilder card(FatVolumeOptions::Defaults(FatType::Fat16));
        card.AddFile("DCIM/100CDPFP/IMGA0001.JPG", TestSupport::MediaShaped("DCIM/100CDPFP/IMGA0001.JPG", 5000, 1));
        card.AddFile("DCIM/100CDPFP/IMGA0002.JPG", TestSupport::MediaShaped("DCIM/100CDPFP/IMGA0002.JPG", 7000, 2));
        card.AddFile("DCIM/100CDPFP/IMGA0003.JPG", TestSupport::MediaShaped("DCIM/100CDPFP/IMGA0003.JPG", 3000, 3));
        card.DeleteEntry("DCIM/100CDPFP/IMGA0002.JPG");
        const fs::path image = dir / "card.img";
        card.Build().WriteTo(image);
        return image;
    }
};

TEST_F(DirectoryStrategy, TwoFoldersAndThreeFilesGiveThreeTargetsAndSelectAllFive) {
    Restore::RestoreMain job(0, Wide(TwoFoldersThreeFiles()));
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
    Completion completion;
    ASSERT_EQ(VerifyNow(job, completion), 0);
    EXPECT_EQ(job.Strategy()->TargetCount(), 3);
    const auto entries = EntriesOf(job);
    ASSERT_EQ(entries.size(), 5u);
    int folders = 0;
    for (const SeenEntry& entry : entries) {
        EXPECT_TRUE(entry.target) << entry.path;
        folders += entry.folder ? 1 : 0;
    }
    EXPECT_EQ(folders, 2);
    EXPECT_EQ(entries[3].path, "\\DCIM\\100CDPFP\\IMGA0002.JPG") << "the deleted photo keeps its place and name";
}

TEST_F(DirectoryStrategy, TrashesFolderIsRenamedOnlyInItsExactSpelling) {
    TestSupport::ExFatImageBuilder card;
    card.AddFolder(".Trashes");
    card.AddFile(".Trashes/501/CLIP.MTS", TestSupport::MediaShaped(".Trashes/501/CLIP.MTS", 3000, 4));
    card.AddFolder("DCIM/.TRASHES");
    const fs::path image = dir / "exfat.img";
    card.WriteTo(image);
    Restore::RestoreMain job(0, Wide(image));
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
    Completion completion;
    ASSERT_EQ(VerifyNow(job, completion), 0);
    std::vector<std::string> paths;
    for (const SeenEntry& entry : EntriesOf(job))
        paths.push_back(entry.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"\\Kalvory.Trashes", "\\Kalvory.Trashes\\501",
                                               "\\Kalvory.Trashes\\501\\CLIP.MTS", "\\DCIM",
                                               "\\DCIM\\.TRASHES"}));
}

TEST_F(DirectoryStrategy, StepHeadingsAreLoggedInOrderAboveLevelSeven) {
    const fs::path image = TwoFoldersThreeFiles();
    const char* const headings[] = {"---DirSearch---\n", "---foundTree---\n", "---RenameDeleted---\n",
                                    "---SlectAll---\n", "---ListUp---\n"};
    {
        AAATest::LogCapture log(8);
        Restore::RestoreMain job(0, Wide(image));
        Completion completion;
        ASSERT_EQ(VerifyNow(job, completion), 0);
        const std::string text = log.Text();
        size_t at = 0;
        for (const char* heading : headings) {
            const size_t found = text.find(heading, at);
            ASSERT_NE(found, std::string::npos) << heading << " missing or out of order in:\n" << text;
            at = found + 1;
        }
        // Renaming the deleted photo sits between its two headings.
        const size_t rename = text.find("Rename: !MGA0002.JPG\t->\tIMGA0002.JPG\n");
        EXPECT_GT(rename, text.find("---RenameDeleted---"));
        EXPECT_LT(rename, text.find("---SlectAll---"));
    }
    {
        AAATest::LogCapture log(7);
        Restore::RestoreMain job(0, Wide(image));
        Completion completion;
        ASSERT_EQ(VerifyNow(job, completion), 0);
        EXPECT_EQ(log.Text().find("---DirSearch---"), std::string::npos) << "headings are level 7";
    }
}

// The access mode of every descriptor this process holds on `file` (the
// stream's and its read-ahead's), once each.
std::vector<int> AccessModesOf(const fs::path& file) {
    std::vector<int> modes;
    const fs::path wanted = fs::canonical(file);
    for (const auto& link : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const fs::path target = fs::read_symlink(link.path(), error);
        if (error || target != wanted)
            continue;
        const int flags = ::fcntl(std::stoi(link.path().filename().string()), F_GETFL);
        if (flags >= 0)
            modes.push_back(flags & O_ACCMODE);
    }
    std::sort(modes.begin(), modes.end());
    modes.erase(std::unique(modes.begin(), modes.end()), modes.end());
    return modes;
}

TEST_F(DirectoryStrategy, CardIsOpenedReadOnlyAndLeftUnchanged) {
    // As root no permission bits would stop a write, so the test looks at the
    // access mode of the descriptors the job holds, and at the bytes and times.
    const fs::path image = TwoFoldersThreeFiles();
    const std::string before = ReadWhole(image);
    struct stat statBefore {};
    ASSERT_EQ(::stat(image.c_str(), &statBefore), 0);

    Restore::RestoreMain job(0, Wide(image));
    job.SetDestination(Wide(Destination()));
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
    EXPECT_EQ(AccessModesOf(image), std::vector<int>{O_RDONLY});
    Completion completion;
    ASSERT_EQ(VerifyNow(job, completion), 0);

    job.SuspendWorker();
    job.StartSave(&completion, &RecordCompletion);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Restore::ProgressWritten.load(), 0u) << "a held worker wrote";
    EXPECT_EQ(AccessModesOf(image), std::vector<int>{O_RDONLY});
    job.ResumeWorker();
    job.Wait();
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());

    struct stat statAfter {};
    ASSERT_EQ(::stat(image.c_str(), &statAfter), 0);
    EXPECT_TRUE(ReadWhole(image) == before);
    EXPECT_EQ(statAfter.st_mtim.tv_sec, statBefore.st_mtim.tv_sec);
    EXPECT_EQ(statAfter.st_mtim.tv_nsec, statBefore.st_mtim.tv_nsec);
    EXPECT_EQ(statAfter.st_ctim.tv_nsec, statBefore.st_ctim.tv_nsec);
    EXPECT_EQ(FilesUnder(dir / "out").size(), 3u);
}

} // namespace
