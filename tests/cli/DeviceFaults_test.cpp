// The real binary against real device faults: a card served through FUSE with
// sectors that fail with EIO, a process file-size limit, and a destination
// file system that runs out. Each test skips when this machine cannot stage it.
#include <gtest/gtest.h>

#include <chrono>
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

uint64_t VolumeOffset(const TestSupport::FatImage& image, const char* path, uint64_t inFile) {
    uint64_t skipped = 0;
    for (const auto& extent : image.Entry(path).extents) {
        if (inFile < skipped + extent.length)
            return extent.offset + inFile - skipped;
        skipped += extent.length;
    }
    return 0;
}

int RunQuietly(const std::string& program, const std::vector<std::string>& arguments, const fs::path& scratch) {
    fs::create_directories(scratch);
    Child child(program, arguments, scratch);
    return child.Finish().exitCode;
}

// The card image behind a FUSE mount whose reads fail at chosen offsets.
class FaultyMount {
public:
    FaultyMount(const fs::path& image, const fs::path& where, const std::vector<uint64_t>& badOffsets)
        : mountpoint_(where / "mnt"), scratch_(where / "fuse") {
        fs::create_directories(mountpoint_);
        fs::create_directories(scratch_);
        if (!fs::exists("/dev/fuse") || !fs::exists(kPython) ||
            RunQuietly(kPython, {"-c", "import fusepy"}, scratch_ / "probe") != 0)
            return;
        std::vector<std::string> arguments{KALVORY_FAULTY_FUSE, image.string(), mountpoint_.string()};
        for (const uint64_t offset : badOffsets)
            arguments.push_back(std::to_string(offset));
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
    const uint64_t inPicture = VolumeOffset(image, kPicture, 50 * 1024);
    const uint64_t inStream = VolumeOffset(image, kStream, 700 * 1024 + 3);
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
    EXPECT_TRUE(TestSupport::ReadFilePattern(out / kPicture) == picture);
    EXPECT_TRUE(TestSupport::ReadFilePattern(out / kStream) == stream);
    EXPECT_TRUE(TestSupport::ReadFilePattern(out / kSecondPicture) == Pattern(30 * 1024, 2));
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
    EXPECT_NE(outcome.err.find(Message(111).substr(0, Message(111).size() - 1) + "\n\n" + (out / "PRIVATE").string() +
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
