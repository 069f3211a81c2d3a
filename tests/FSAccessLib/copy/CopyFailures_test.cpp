// What a copy does when something goes wrong: one entry's failure costs that
// entry only, a vanished card ends the walk (a full destination: the job
// tests), unreadable sectors become zeros on record, files crossing the
// image's end are cut or skipped, card paths too deep for the host are saved
// higher up, and links in the destination are never followed. No failure
// leaves a partial file.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include "AAA_Exceptions.h"
#include "FSAccessCommon.h"
#include "FSAccessLib/copy/CopyTestHelpers.h"
#include "FSAccessLib/TreeTestHelpers.h"
#include "common/FaultyIo.h"

using namespace FSAccessLib;
using FSAccessTest::CopyScene;
using FSAccessTest::File;
using FSAccessTest::Folder;
using TestSupport::ReadFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kImage = FSAccessTest::PatternImage(256 * 1024);

DirEntry Target(DirEntry entry) {
    entry.target = true;
    return entry;
}

DirEntry Chained(const std::u16string& name, std::vector<std::pair<uint64_t, uint64_t>> blocks) {
    DirEntry entry = Target(File(name, blocks.front().first, 0));
    for (const auto& [start, length] : blocks) {
        entry.chain.emplace_back(start, length, nullptr);
        entry.length += length;
    }
    return entry;
}

const SavedEntry* OutcomeOf(const CommandCopyToDst& copy, const std::u16string& cardPath) {
    for (const SavedEntry& outcome : copy.Outcomes())
        if (outcome.cardPath == cardPath)
            return &outcome;
    return nullptr;
}

// Every regular file under `root` (links are not followed).
std::vector<fs::path> FilesUnder(const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && !entry.is_symlink())
            files.push_back(entry.path());
    return files;
}

struct EntryFailureCase {
    const char* what;
    std::function<void(DirEntry& root, const fs::path& out)> setUp; // adds the failing entries first
    std::u16string failingPath;
    int error;
};

TEST(CopyFailures, OneEntrysFailureCostsThatEntryOnly) {
    const EntryFailureCase cases[] = {
        {"a file inside a folder that is neither selected nor there",
         [](DirEntry& root, const fs::path&) {
             root.children.push_back(Folder(u"NOTSELECTED"));
             root.children.back().children.push_back(Target(File(u"F", 0, 10)));
         },
         u"\\NOTSELECTED\\F", ENOENT},
        {"a plain file where a folder goes",
         [](DirEntry& root, const fs::path& out) {
             TestSupport::WriteFileBytes(out / "DCIM", "a file");
             root.children.push_back(Target(Folder(u"DCIM")));
         },
         u"\\DCIM", EEXIST},
        {"a write the destination refuses once",
         [](DirEntry& root, const fs::path&) { root.children.push_back(Target(File(u"F", 0, 100000))); },
         u"\\F", EIO},
    };
    for (const EntryFailureCase& c : cases) {
        FSAccessTest::ProgressReset reset;
        CopyScene scene(kImage);
        DirEntry root;
        c.setUp(root, scene.Out());
        root.children.push_back(Target(File(u"AFTER", 100, 50)));
        root.Relink(nullptr);
        KalvoryTest::ScopedWriteBudget budget(c.error == EIO ? 4096 : INT64_MAX, EIO,
                                              KalvoryTest::ScopedWriteBudget::Fails::Once);
        FSAccessTest::LogCapture log(4);
        CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
        ASSERT_NO_THROW(root.Apply(copy)) << c.what;
        const SavedEntry* failed = OutcomeOf(copy, c.failingPath);
        ASSERT_NE(failed, nullptr) << c.what;
        EXPECT_EQ(failed->status, SaveStatus::Failed) << c.what;
        EXPECT_EQ(failed->error, c.error) << c.what;
        EXPECT_NE(failed->reason.find(failed->hostPath + u": "), std::u16string::npos) << c.what;
        EXPECT_NE(log.Text().find(AAA::ToUtf8(AAA::SystemReason(c.error))), std::string::npos) << c.what;
        EXPECT_EQ(ReadFileBytes(scene.Out() / "AFTER"), kImage.substr(100, 50)) << c.what;
        if (c.error == EIO) {
            EXPECT_FALSE(fs::exists(scene.Out() / "F")) << "a failed copy left its partial file";
        }
    }
}

TEST(CopyFailures, AFileSizeLimitFailsTheLargeFileOnly) {
    // The limit and the ignored signal live in a child, so this process keeps its own.
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit limit {64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        DirEntry root;
        root.children.push_back(Target(File(u"BIG", 0, 100 * 1024)));
        root.children.push_back(Target(File(u"SMALL", 0, 10 * 1024)));
        root.Relink(nullptr);
        CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
        root.Apply(copy);
        const SavedEntry* big = OutcomeOf(copy, u"\\BIG");
        int failures = 0;
        failures += big == nullptr || big->status != SaveStatus::Failed || big->error != EFBIG ? 1 : 0;
        failures += fs::exists(scene.Out() / "BIG") ? 2 : 0;
        failures += ReadFileBytes(scene.Out() / "SMALL") != kImage.substr(0, 10 * 1024) ? 4 : 0;
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no EFBIG failure, 2: partial file left, 4: the small file is wrong";
}

TEST(CopyFailures, UnreadableSectorsBecomeZerosOnRecordAndAVanishedCardEndsTheWalk) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    scene.source->blockSize = 512;
    KalvoryTest::ScopedReadFaults faults(scene.imagePath);
    faults.faults.bad = {{8192 + 100, 8192 + 101}, {20480, 20481}};
    faults.faults.lostFrom = 200000;
    DirEntry root;
    root.children.push_back(Chained(u"DAMAGED", {{16384, 8192}, {4096, 8192}}));
    root.children.push_back(Target(File(u"LOST", 150000, 60000)));
    root.children.push_back(Target(File(u"NEVER", 0, 10)));
    root.Relink(nullptr);
    FSAccessTest::LogCapture log(4);
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
    EXPECT_THROW(root.Apply(copy), AAA::SourceLostException);

    std::string expected = kImage.substr(16384, 8192) + kImage.substr(4096, 8192);
    std::fill_n(expected.begin() + (20480 - 16384), 512, '\0');      // the first block's bad sector
    std::fill_n(expected.begin() + 8192 + (8192 - 4096), 512, '\0'); // the second block's
    EXPECT_TRUE(ReadFileBytes(scene.Out() / "DAMAGED") == expected);
    const SavedEntry* damaged = OutcomeOf(copy, u"\\DAMAGED");
    ASSERT_NE(damaged, nullptr);
    EXPECT_EQ(damaged->status, SaveStatus::Written);
    EXPECT_EQ(damaged->unreadable, (std::vector<AAA::ByteRange>{{4096, 512}, {12288, 512}}));
    EXPECT_NE(log.Text().find("0x1000+0x200 0x3000+0x200"), std::string::npos) << log.Text();
    EXPECT_FALSE(fs::exists(scene.Out() / "LOST")) << "the file being written when the card went stays";
    EXPECT_FALSE(fs::exists(scene.Out() / "NEVER"));
}

struct ImageEndCase {
    const char* what;
    PartialFiles partial;
    DirEntry entry;
    std::string expected; // the file's bytes; empty: no file
    SaveStatus status;
};

TEST(CopyFailures, FilesCrossingTheImageEndAreCutOrSkipped) {
    const uint64_t image = 4096;
    const std::string bytes = kImage.substr(0, image);
    const ImageEndCase cases[] = {
        {"whole inside", PartialFiles::Skip, Target(File(u"F", 1000, 3096)), bytes.substr(1000), SaveStatus::Written},
        {"one extent, skipped", PartialFiles::Skip, Target(File(u"F", 3000, 2000)), "", SaveStatus::SkippedPartial},
        {"one extent, cut", PartialFiles::Write, Target(File(u"F", 3000, 2000)), bytes.substr(3000),
         SaveStatus::Written},
        {"a chain up to its first missing byte", PartialFiles::Write,
         Chained(u"F", {{100, 10}, {4000, 500}, {200, 10}}), bytes.substr(100, 10) + bytes.substr(4000),
         SaveStatus::Written},
        {"a chain wholly past the end after its first block", PartialFiles::Write,
         Chained(u"F", {{100, 10}, {5000, 500}}), bytes.substr(100, 10), SaveStatus::Written},
    };
    for (const ImageEndCase& c : cases) {
        FSAccessTest::ProgressReset reset;
        CopyScene scene(bytes);
        DirEntry root;
        root.children.push_back(c.entry);
        root.Relink(nullptr);
        CommandCopyToDst copy(scene.Destination(), scene.source.get(), 8 * image, c.partial);
        root.Apply(copy);
        ASSERT_EQ(copy.Outcomes().size(), 1u);
        const SavedEntry& outcome = copy.Outcomes()[0];
        EXPECT_EQ(outcome.status, c.status) << c.what;
        const bool crosses = c.status != SaveStatus::Written || c.expected.size() < c.entry.length;
        EXPECT_EQ(outcome.cutAtImageEnd, crosses) << c.what;
        EXPECT_EQ(root.children[0].partial, crosses && c.partial == PartialFiles::Write) << c.what;
        if (c.expected.empty()) {
            EXPECT_FALSE(fs::exists(scene.Out() / "F")) << c.what;
        } else {
            EXPECT_EQ(ReadFileBytes(scene.Out() / "F"), c.expected) << c.what;
            EXPECT_EQ(outcome.written, c.expected.size()) << c.what;
        }
    }
}

// A folder chain `depth` levels deep of `name`, a file at its bottom.
DirEntry Nested(const std::u16string& name, int depth) {
    DirEntry bottom = Target(File(u"DEEP.JPG", 0, 100));
    for (int level = 0; level < depth; ++level) {
        DirEntry folder = Target(Folder(name));
        folder.isDirectory = true;
        folder.children.push_back(std::move(bottom));
        bottom = std::move(folder);
    }
    return bottom;
}

TEST(CopyFailures, CardPathsTooDeepForTheHostAreSavedHigherUp) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    DirEntry root;
    root.children.push_back(Nested(u"FOLDER01", 600));                   // FAT: 600 levels of 8.3 names
    root.children.push_back(Nested(std::u16string(255, u'n'), 140));     // exFAT: 140 levels of 255 characters
    root.children.push_back(Target(File(u"AFTER", 0, 10)));
    root.Relink(nullptr);
    FSAccessTest::LogCapture log(4);
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
    root.Apply(copy);
    const std::vector<fs::path> files = FilesUnder(scene.Out());
    EXPECT_EQ(files.size(), 3u);
    for (const fs::path& file : files) {
        EXPECT_LE(fs::relative(file, scene.Out()).string().size(), kMaxRelativePathBytes);
        EXPECT_EQ(ReadFileBytes(file), file.filename() == "AFTER" ? kImage.substr(0, 10) : kImage.substr(0, 100));
    }
    EXPECT_EQ(copy.MovedUpCount(), 2);
    for (const SavedEntry& outcome : copy.Outcomes())
        EXPECT_NE(outcome.status, SaveStatus::Failed) << AAA::ToUtf8(outcome.reason);
    EXPECT_NE(log.Text().find("too deep for the host"), std::string::npos);
}

TEST(CopyFailures, LinksInTheDestinationAreNeverFollowed) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    const fs::path outside = scene.temp / "outside";
    fs::create_directory(outside);
    fs::create_directory_symlink(outside, scene.Out() / "DCIM");
    fs::create_symlink(outside / "X.JPG", scene.Out() / "X.JPG"); // dangling
    DirEntry root;
    DirEntry dcim = Target(Folder(u"DCIM"));
    dcim.isDirectory = true;
    dcim.children.push_back(Target(File(u"A.JPG", 0, 10)));
    root.children.push_back(dcim);
    root.children.push_back(Target(File(u"X.JPG", 0, 10)));
    root.Relink(nullptr);
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
    root.Apply(copy);
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(OutcomeOf(copy, u"\\DCIM")->status, SaveStatus::Failed);
    EXPECT_EQ(OutcomeOf(copy, u"\\DCIM\\A.JPG")->status, SaveStatus::Failed);
    EXPECT_EQ(OutcomeOf(copy, u"\\X.JPG")->status, SaveStatus::AlreadyThere);
}

// Digests are taken while later files are copied; each must still reach its
// own file's outcome, also when a vanished card ends the walk midway.
class Fnv : public AAA::Digest {
public:
    void Update(const uint8_t* bytes, size_t count) override {
        for (size_t i = 0; i < count; ++i)
            hash_ = (hash_ ^ bytes[i]) * 1099511628211ull;
    }
    std::string Final() override { return std::to_string(hash_); }
    static std::string Of(const std::string& bytes) {
        Fnv digest;
        digest.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return digest.Final();
    }

private:
    uint64_t hash_ = 14695981039346656037ull;
};

TEST(CopyFailures, EveryWrittenFileKeepsItsOwnDigestWhenTheWalkEnds) {
    for (unsigned seed = 0; seed < 24; ++seed) {
        SCOPED_TRACE(seed);
        FSAccessTest::ProgressReset reset;
        std::mt19937 random(seed);
        CopyScene scene(kImage);
        KalvoryTest::ScopedReadFaults faults(scene.imagePath);
        if (seed % 2 == 1)
            faults.faults.lostFrom = random() % kImage.size();
        DirEntry root;
        const int files = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < files; ++i) {
            const uint64_t length = 1 + random() % 20000;
            const uint64_t start = random() % (kImage.size() - 2 * length);
            const std::u16string name = u"F" + AAA::FromUtf8(std::to_string(i));
            root.children.push_back(random() % 3 == 0 ? Chained(name, {{start + length, length}, {start, length}})
                                                      : Target(File(name, start, length)));
        }
        root.Relink(nullptr);
        CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
        copy.SetOrder(CopyOrder::Card);
        copy.SetDigests([] { return std::make_unique<Fnv>(); });
        try {
            root.Apply(copy);
            copy.CopyPlanned();
        } catch (const AAA::SourceLostException&) {
            EXPECT_NE(faults.faults.lostFrom, UINT64_MAX);
        }
        int written = 0;
        for (const SavedEntry& outcome : copy.Outcomes()) {
            if (outcome.status != SaveStatus::Written) {
                EXPECT_TRUE(outcome.digest.empty()) << AAA::ToUtf8(outcome.cardPath);
                continue;
            }
            ++written;
            const fs::path file = AAA::ToUtf8(outcome.hostPath);
            EXPECT_EQ(outcome.digest, Fnv::Of(ReadFileBytes(file))) << file;
        }
        if (faults.faults.lostFrom == UINT64_MAX) {
            EXPECT_EQ(written, files);
        }
    }
}

} // namespace
