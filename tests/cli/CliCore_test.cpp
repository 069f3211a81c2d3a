// The command line's own logic: the remaining-time estimate, the progress bar,
// JSON output and the destination checks.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "DestinationCheck.h"
#include "ProgressView.h"
#include "RecoveredFiles.h"
#include "RemainingTime.h"
#include "TargetList.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace KalvoryCli;

TEST(RemainingTimeText, ExtrapolatesFromTheElapsedTime) {
    const RemainingWords words;
    EXPECT_EQ(RemainingTimeText(0, 30, words), "");
    EXPECT_EQ(RemainingTimeText(100, 30, words), "");
    EXPECT_EQ(RemainingTimeText(50, 30, words), "Remaining 30 sec");
    EXPECT_EQ(RemainingTimeText(10, 60, words), "Remaining 9 min");
    EXPECT_EQ(RemainingTimeText(50, 59.9, words), "Remaining 59 sec");
    EXPECT_EQ(RemainingTimeText(50, 60, words), "Remaining 1 min");
    EXPECT_EQ(RemainingTimeText(1, 119.99, words), "Remaining 197 min") << "whole minutes, truncated";
    EXPECT_EQ(RemainingTimeText(50, 30, {"Reste", "m", "s"}), "Reste 30 s");
}

TEST(ProgressViewBarLine, FillsThirtyCellsAndAddsTheEstimate) {
    const ProgressView view(stderr, ProgressStyle::Silent, "Saving", RemainingWords{});
    EXPECT_EQ(view.BarLine(0, 5), "Saving [------------------------------]   0%");
    EXPECT_EQ(view.BarLine(50, 30), "Saving [###############---------------]  50%  Remaining 30 sec");
    EXPECT_EQ(view.BarLine(10, 60), "Saving [###" + std::string(27, '-') + "]  10%  Remaining 9 min");
    EXPECT_EQ(view.BarLine(100, 60), "Saving [##############################] 100%");
}

TEST(ProgressViewLines, PrintsEveryTenthAndTheEnd) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ProgressView view(out, ProgressStyle::Lines, "Verifying", RemainingWords{});
    for (int percent : {0, 3, 9, 10, 19, 20, 95, 100, 100})
        view.Update(percent);
    view.Finish();
    std::rewind(out);
    char buffer[512] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    const std::string text(buffer, n);
    EXPECT_EQ(text.find("Verifying: 0%\nVerifying: 10%"), 0u) << text;
    EXPECT_NE(text.find("Verifying: 20%"), std::string::npos) << text;
    EXPECT_NE(text.find("Verifying: 95%"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 16), "Verifying: 100%\n") << text;
    EXPECT_EQ(text.find("Verifying: 3%"), std::string::npos);
    EXPECT_EQ(text.find("Verifying: 100%"), text.rfind("Verifying: 100%")) << "100% shown twice";
}

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(JsonString("DCIM/100CDPFP"), "\"DCIM/100CDPFP\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString(std::string("tab\there\nnul\0end", 16)), "\"tab\\u0009here\\u000anul\\u0000end\"");
    EXPECT_EQ(JsonString("\x1f\x7f"), "\"\\u001f\x7f\"");
    EXPECT_EQ(JsonString("写真 \xC3\xA9"), "\"写真 \xC3\xA9\"") << "UTF-8 passes unchanged";
}

TEST(FormatTargetsJson, WritesSourceFlagsAndExtents) {
    EXPECT_EQ(FormatTargetsJson("card \"1\".img", {}),
              "{\n  \"format\": 1,\n  \"source\": \"card \\\"1\\\".img\",\n  \"targets\": []\n}\n");
    TargetInfo folder;
    folder.path = "DCIM";
    folder.found = "directory";
    folder.directory = true;
    TargetInfo clip;
    clip.path = "PRIVATE/00001.MTS";
    clip.found = "carved";
    clip.signature = "AVCHD transport stream";
    clip.renamed = true;
    clip.size = 5000;
    clip.deleted = true;
    clip.chainBroken = true;
    clip.extents = {{-4096, 3000, 1044480}, {16384, 2000, 1065344}}; // the first before the volume
    clip.pathShortened = true;
    clip.repaired = true;
    clip.damaged = {{512, 512}, {3584, 1024}};
    EXPECT_EQ(FormatTargetsJson("/dev/sdb1", {folder, clip}),
              "{\n  \"format\": 1,\n  \"source\": \"/dev/sdb1\",\n  \"targets\": [\n"
              "    {\"path\": \"DCIM\", \"size\": 0, \"folder\": true, \"found\": \"directory\", \"signature\": null, "
              "\"deleted\": false, \"carved\": false, \"chainBroken\": false, \"partial\": false, \"repaired\": false, \"extents\": [], "
              "\"pathShortened\": false, \"renamed\": false, \"damaged\": [], \"overwritten\": false, \"matchesUpTo\": null},\n"
              "    {\"path\": \"PRIVATE/00001.MTS\", \"size\": 5000, \"folder\": false, \"found\": \"carved\", "
              "\"signature\": \"AVCHD transport stream\", \"deleted\": true, \"carved\": false, \"chainBroken\": true, "
              "\"partial\": false, \"repaired\": true, \"extents\": [{\"start\": -4096, \"length\": 3000, \"cardStart\": 1044480}, "
              "{\"start\": 16384, \"length\": 2000, \"cardStart\": 1065344}], "
              "\"pathShortened\": true, \"renamed\": true, "
              "\"damaged\": [{\"start\": 512, \"length\": 512}, {\"start\": 3584, \"length\": 1024}], "
              "\"overwritten\": false, \"matchesUpTo\": null}\n  ]\n}\n");
}

TEST(HumanBytes, UsesBinaryUnitsWithOneDecimal) {
    EXPECT_EQ(HumanBytes(0), "0 bytes");
    EXPECT_EQ(HumanBytes(1023), "1023 bytes");
    EXPECT_EQ(HumanBytes(1024), "1.0 KiB");
    EXPECT_EQ(HumanBytes(681025), "665.1 KiB");
    EXPECT_EQ(HumanBytes(3ull << 30), "3.0 GiB");
}

class DestinationTest : public ::testing::Test {
protected:
    TestSupport::TempDir dir{"kalvory-dest"};
};

TEST_F(DestinationTest, FolderHoldingPrivateIsRefused) {
    const fs::path image = dir / "card.img";
    TestSupport::WriteFileBytes(image, "not a device");
    fs::create_directories(dir / "used/PRIVATE");
    fs::create_directories(dir / "other/DCIM");
    TestSupport::WriteFileBytes(dir / "other/notes.txt", "x");
    EXPECT_EQ(CheckDestination(image, dir / "used"), DestinationVerdict::HoldsPrivateFolder);
    EXPECT_EQ(CheckDestination(image, dir / "other"), DestinationVerdict::Accepted) << "not empty, but no PRIVATE";
    EXPECT_EQ(CheckDestination(image, dir / "new"), DestinationVerdict::Accepted);
    // The image lies in the destination's file system, even in the folder itself: an image file is not the card.
    EXPECT_EQ(CheckDestination(image, dir.Path()), DestinationVerdict::Accepted);
}

// The block device that holds `path`'s file system, if /dev lists it.
std::optional<fs::path> DeviceHolding(const fs::path& path) {
    struct stat holder {};
    if (::stat(path.c_str(), &holder) != 0)
        return std::nullopt;
    std::error_code error;
    for (const auto& node : fs::directory_iterator("/dev", error)) {
        struct stat info {};
        if (::stat(node.path().c_str(), &info) == 0 && S_ISBLK(info.st_mode) && info.st_rdev == holder.st_dev)
            return node.path();
    }
    return std::nullopt;
}

TEST_F(DestinationTest, FolderOnTheCardsOwnDeviceIsRefused) {
    const auto device = DeviceHolding(dir.Path());
    if (!device)
        GTEST_SKIP() << "the scratch folder's file system has no block device node in /dev";
    EXPECT_EQ(CheckDestination(*device, dir / "out"), DestinationVerdict::OnSourceDevice);
    EXPECT_EQ(CheckDestination(*device, dir / "not/yet/made"), DestinationVerdict::OnSourceDevice);
}

TEST_F(DestinationTest, PrepareMakesOneLevelAndRefusesFiles) {
    EXPECT_EQ(PrepareDestination(dir / "out"), "");
    EXPECT_TRUE(fs::is_directory(dir / "out"));
    EXPECT_EQ(PrepareDestination(dir / "out"), "") << "an existing folder is fine";
    EXPECT_EQ(PrepareDestination(dir / "missing/out"), std::strerror(ENOENT));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    TestSupport::WriteFileBytes(dir / "file", "x");
    EXPECT_EQ(PrepareDestination(dir / "file"), std::strerror(ENOTDIR));
}

} // namespace
