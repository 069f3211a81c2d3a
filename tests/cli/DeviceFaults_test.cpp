// The real binary against real device faults: a card served through FUSE with
// sectors that fail with EIO, a process file-size limit, and a destination
// file system that runs out. Each test skips when this machine cannot stage it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <thread>

#include "CliTestSupport.h"
#include "restorelib/RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;
using TestSupport::FatImageBuilder;
using TestSupport::FatType;
using TestSupport::FatVolumeOptions;

const char* const kPicture = "DCIM/100CDPFP/IMGA0001.JPG";
const char* const kSecondPicture = "DCIM/100CDPFP/IMGA0002.JPG";
const char* const kStream = "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS";

using RestoreTest::Pattern;

TestSupport::FatImage WriteCard(const fs::path& image) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
    builder.AddFile(kPicture, Pattern(100 * 1024, 1));
    builder.AddFile(kSecondPicture, Pattern(30 * 1024, 2));
    builder.AddFile(kStream, Pattern(900 * 1024, 3));
    TestSupport::FatImage built = builder.Build();
    built.WriteTo(image);
    return built;
}

int RunQuietly(const std::string& program, const std::vector<std::string>& arguments, const fs::path& scratch) {
    fs::create_directories(scratch);
    Child child(program, arguments, scratch);
    return child.Finish().exitCode;
}

// The card image behind a FUSE mount whose reads fail at chosen offsets.
class FaultyMount {
public:
    // With `pauseAt`, the first read touching it waits: `where`/paused appears,
    // and the read goes on once `where`/resume exists.
    FaultyMount(const fs::path& image, const fs::path& where, const std::vector<uint64_t>& badOffsets,
                std::optional<uint64_t> pauseAt = std::nullopt)
        : mountpoint_(where / "mnt"), scratch_(where / "fuse") {
        fs::create_directories(mountpoint_);
        fs::create_directories(scratch_);
        if (!fs::exists("/dev/fuse") || !fs::exists(kPython) ||
            RunQuietly(kPython, {"-c", "import fusepy"}, scratch_ / "probe") != 0)
            return;
        std::vector<std::string> arguments{KALVORY_FAULTY_FUSE, image.string(), mountpoint_.string()};
        for (const uint64_t offset : badOffsets)
            arguments.push_back(std::to_string(offset));
        if (pauseAt) {
            arguments.push_back("--pause-at");
            arguments.push_back(std::to_string(*pauseAt));
        }
        server_ = std::make_unique<Child>(kPython, arguments, scratch_);
        for (int i = 0; i < 100 && !Mounted(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~FaultyMount() {
        if (Mounted())
            RunQuietly("/bin/fusermount", {"-u", mountpoint_.string()}, scratch_ / "unmount");
        server_.reset(); // killed if still there
    }
    bool Mounted() const {
        std::error_code error;
        return server_ && fs::exists(mountpoint_ / "card.img", error);
    }
    fs::path Card() const { return mountpoint_ / "card.img"; }

private:
    static constexpr const char* kPython = "/usr/bin/python3";
    fs::path mountpoint_;
    fs::path scratch_;
    std::unique_ptr<Child> server_;
};

TEST(DeviceFaults, SectorsFailingWithEioCostOnlyThemselves) {
    TestSupport::TempDir dir("kalvory-faults");
    const TestSupport::FatImage image = WriteCard(dir / "card.img");
    const uint64_t inPicture = TestSupport::VolumeOffsetOf(image, kPicture, 50 * 1024);
    const uint64_t inStream = TestSupport::VolumeOffsetOf(image, kStream, 700 * 1024 + 3);
    FaultyMount mount(dir / "card.img", dir.Path(), {inPicture, inStream});
    if (!mount.Mounted())
        GTEST_SKIP() << "FUSE cannot mount here (python3-fusepy, fuse and /dev/fuse are needed)";

    const fs::path out = dir / "out";
    const Outcome recovered = RunKalvory({"recover", mount.Card().string(), out.string()}, dir.Path());
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    std::string picture = Pattern(100 * 1024, 1);
    std::fill_n(picture.begin() + 50 * 1024, 512, '\0');
    std::string stream = Pattern(900 * 1024, 3);
    std::fill_n(stream.begin() + 700 * 1024, 512, '\0');
    EXPECT_TRUE(TestSupport::ReadFileBytes(out / kPicture) == picture);
    EXPECT_TRUE(TestSupport::ReadFileBytes(out / kStream) == stream);
    EXPECT_TRUE(TestSupport::ReadFileBytes(out / kSecondPicture) == Pattern(30 * 1024, 2));
    EXPECT_NE(recovered.out.find("2 files have parts the card could not read"), std::string::npos) << recovered.out;
    EXPECT_NE(recovered.out.find((out / kPicture).string() + ": bytes 51200-51711\n"), std::string::npos)
        << recovered.out;
    EXPECT_NE(recovered.out.find((out / kStream).string() + ": bytes 716800-717311\n"), std::string::npos)
        << recovered.out;

    const Outcome listed = RunKalvory({"list", "--json", "--check", mount.Card().string()}, dir.Path());
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find(std::string("\"path\": \"") + kPicture), std::string::npos);
    EXPECT_NE(listed.out.find("\"damaged\": [{\"start\": 51200, \"length\": 512}]"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"damaged\": [{\"start\": 716800, \"length\": 512}]"), std::string::npos) << listed.out;
}

bool WaitFor(const fs::path& file) {
    for (int i = 0; i < 500 && !fs::exists(file); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(file);
}

// Whether `pid` has taken SIGINT off its pending set (its handler has run or
// is running), read from /proc.
bool InterruptTaken(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("ShdPnd:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) == 0;
    return true;
}

struct CancelPoint {
    const char* what;
    std::vector<std::string> mode;
    const char* file; // null: an offset in the card's free space
    uint64_t offset;
    std::vector<const char*> kept;
};

// Ctrl-C while a read of the card is held: 130, only whole files, a summary
// that counts what DEST holds.
TEST(DeviceFaults, CancelWhileAReadIsHeldLeavesOnlyWholeFiles) {
    const CancelPoint points[] = {
        {"during the scan", {}, nullptr, 20u << 20, {}},
        {"during the stream's copy", {"--mode", "directory"}, kStream, 500 * 1024, {kPicture, kSecondPicture}},
    };
    for (const CancelPoint& point : points) {
        TestSupport::TempDir dir("kalvory-faults");
        const TestSupport::FatImage image = WriteCard(dir / "card.img");
        const uint64_t at = point.file ? TestSupport::VolumeOffsetOf(image, point.file, point.offset) : point.offset;
        FaultyMount mount(dir / "card.img", dir.Path(), {}, at);
        if (!mount.Mounted())
            GTEST_SKIP() << "FUSE cannot mount here (python3-fusepy, fuse and /dev/fuse are needed)";
        const fs::path out = dir / "out";
        std::vector<std::string> arguments{"recover"};
        arguments.insert(arguments.end(), point.mode.begin(), point.mode.end());
        arguments.insert(arguments.end(), {mount.Card().string(), out.string()});
        fs::create_directory(dir / "run");
        Child kalvory(KALVORY_BINARY, arguments, dir / "run");
        ASSERT_TRUE(WaitFor(dir / "paused")) << point.what;
        ::kill(kalvory.Pid(), SIGINT);
        // The held read goes on only once the interrupt was taken: on a busy
        // machine the rest of the copy could otherwise finish before it.
        for (int i = 0; i < 500 && !InterruptTaken(kalvory.Pid()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        TestSupport::WriteFileBytes(dir / "resume", "");
        const Outcome outcome = kalvory.Finish();
        EXPECT_EQ(outcome.exitCode, 130) << point.what << outcome.err;
        const size_t files = RecoveredFilesUnder(out).size();
        EXPECT_EQ(files, point.kept.size()) << point.what;
        for (const char* kept : point.kept) {
            const std::vector<uint8_t>& data = image.Entry(kept).data;
            EXPECT_TRUE(TestSupport::ReadFileBytes(out / kept) == std::string(data.begin(), data.end())) << kept;
        }
        if (!point.kept.empty()) {
            EXPECT_EQ(outcome.out.rfind("Cancelled. The " + std::to_string(files) + " files", 0), 0u) << outcome.out;
        }
    }
}

TEST(DeviceFaults, AFileSizeLimitIsFoundBeforeAnythingIsWritten) {
    TestSupport::TempDir dir("kalvory-faults");
    WriteCard(dir / "card.img");
    const fs::path out = dir / "out";
    // 512 blocks is 256 or 512 KiB, as the shell counts them: the stream is larger.
    Child child("/bin/sh", {"-c", "ulimit -f 512 && exec \"$0\" \"$@\"", KALVORY_BINARY, "recover",
                            (dir / "card.img").string(), out.string()},
                dir.Path());
    const Outcome outcome = child.Finish();
    EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
    EXPECT_NE(outcome.err.find("cannot hold files larger than"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find(std::string(kStream) + " (921600 bytes)"), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find(kPicture), std::string::npos) << outcome.err;
    EXPECT_TRUE(fs::is_empty(out)) << "nothing is written, not even a folder";
}

TEST(DeviceFaults, ADestinationThatRunsOutEndsTheSaveWith111) {
    TestSupport::TempDir dir("kalvory-faults");
    WriteCard(dir / "card.img");
    const fs::path out = dir / "out";
    fs::create_directory(out);
    // Room for the root, two folders and two files: the third folder finds none.
    if (RunQuietly("/bin/mount", {"-t", "tmpfs", "-o", "size=64m,nr_inodes=5", "tmpfs", out.string()},
                   dir / "mount") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const Outcome outcome = RunKalvory({"recover", (dir / "card.img").string(), out.string()}, dir.Path());
    const bool firstSaved = fs::exists(out / kPicture) && fs::exists(out / kSecondPicture);
    const bool streamAbsent = !fs::exists(out / kStream);
    RunQuietly("/bin/umount", {out.string()}, dir / "umount");
    EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
    EXPECT_NE(outcome.err.find(Message(111).substr(0, Message(111).size() - 1) + " " + (out / "PRIVATE").string() +
                               ": No space left on device"),
              std::string::npos)
        << outcome.err;
    EXPECT_TRUE(firstSaved);
    EXPECT_TRUE(streamAbsent);
    EXPECT_NE(outcome.out.find("Saved 2 files (130.0 KiB) into"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("1 files (900.0 KiB) were not saved because the save stopped:\n  " +
                               (out / kStream).string()),
              std::string::npos)
        << outcome.out;
}

} // namespace
