// The kalvory command as a user runs it: recovering and listing the sample
// card, the exit codes, the refusals of a destination and the messages of a
// failed recovery.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "CliTestSupport.h"
#include "RecoveredFiles.h"
#include "support/FatImageBuilder.h"
#include "support/MtoolsHelpers.h"
#include "support/SmallCards.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;

// The sample card's files, live, deleted and carved, with their sizes.
struct SampleFile {
    const char* path;
    uint64_t size;
    bool deleted;
    bool carved = false;
};
constexpr SampleFile kSampleFiles[] = {
    {"DCIM/100CDPFP/IMGA0001.JPG", 48 * 1024, false},
    {"DCIM/100CDPFP/IMGA0002.JPG", 52 * 1024, true},
    {"DCIM/101CDPFP/IMGA0003.JPG", 40 * 1024, true},
    {"PRIVATE/AVCHD/BDMV/INDEX.BDM", 21, false},
    {"PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", 29, false},
    {"PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", 15, false},
    {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", 1600 * 192, false},
    {"PRIVATE/AVCHD/BDMV/STREAM/00001.MTS", 1200 * 192, true},
    // Left in the free space by an earlier format, named as the camcorder would.
    {"PRIVATE/AVCHD/BDMV/STREAM/00002.MTS", 7000 * 192, false, true},
    {"DCIM/102CDPFP/IMGA0001.JPG", 61472, false, true},
    {"DCIM/102CDPFP/IMGA0002.JPG", 46112, false, true},
};

class KalvoryCommand : public ::testing::Test {
protected:
    fs::path SampleCard() { return WriteSampleCard(dir / "card.img", dir.Path()); }
    Outcome Run(const std::vector<std::string>& arguments) { return RunKalvory(arguments, dir.Path()); }

    TestSupport::TempDir dir{"kalvory-cli"};
};

bool IsJpeg(const std::string& bytes) {
    return bytes.size() > 4 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0 && bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
}

bool IsTransportStream(const std::string& bytes) {
    if (bytes.empty() || bytes.size() % 192 != 0)
        return false;
    for (size_t at = 4; at < bytes.size(); at += 192) {
        if (bytes[at] != 0x47)
            return false;
    }
    return true;
}

TEST_F(KalvoryCommand, RecoverBesideTheImageRestoresEveryFile) {
    // The image's own folder holds the destination: an image file's location never counts as the card.
    const fs::path card = SampleCard();
    const fs::path out = dir / "out";
    const Outcome outcome = Run({"recover", card.string(), out.string()});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    uint64_t total = 0;
    for (const SampleFile& file : kSampleFiles) {
        ASSERT_TRUE(fs::is_regular_file(out / file.path)) << file.path;
        EXPECT_EQ(fs::file_size(out / file.path), file.size) << file.path;
        total += file.size;
    }
    EXPECT_EQ(outcome.out, "Recovered 11 files (" + KalvoryCli::HumanBytes(total) + ") into " + out.string() +
                               "\nOf these, 0 came from folders found after a format and 3 from the sector scan alone.\n" +
                               ReportLine(out / "kalvory-report.json"));

    // Live files against mtools' own reading of the card; deleted ones by their formats.
    if (TestSupport::HaveFatTools()) {
        for (const SampleFile& file : kSampleFiles) {
            if (file.deleted || file.carved)
                continue;
            const auto expected = TestSupport::McopyOut(card, file.path, dir / "mcopy.tmp");
            ASSERT_TRUE(expected.has_value()) << file.path;
            EXPECT_TRUE(ReadText(out / file.path) == *expected) << file.path;
        }
    }
    EXPECT_TRUE(IsJpeg(ReadText(out / "DCIM/100CDPFP/IMGA0002.JPG")));
    EXPECT_TRUE(IsJpeg(ReadText(out / "DCIM/101CDPFP/IMGA0003.JPG")));
    EXPECT_TRUE(IsTransportStream(ReadText(out / "PRIVATE/AVCHD/BDMV/STREAM/00001.MTS")));
    EXPECT_TRUE(IsTransportStream(ReadText(out / "PRIVATE/AVCHD/BDMV/STREAM/00002.MTS")));
    EXPECT_TRUE(IsJpeg(ReadText(out / "DCIM/102CDPFP/IMGA0002.JPG")));
}

TEST_F(KalvoryCommand, ListShowsEveryTargetWithItsFlags) {
    const fs::path card = SampleCard();
    const Outcome text = Run({"list", card.string()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("folder,deleted  DCIM/101CDPFP\n"), std::string::npos) << text.out;
    for (const SampleFile& file : kSampleFiles) {
        const std::string flags = file.carved ? "carved" : file.deleted ? "deleted" : "-";
        const std::regex line("(^|\\n) *" + std::to_string(file.size) + "  " + flags +
                              "  " + file.path + "  \\[0x[0-9a-f]+\\+0x[0-9a-f]+\\]\\n");
        EXPECT_TRUE(std::regex_search(text.out, line)) << file.path << " in\n" << text.out;
    }
    EXPECT_FALSE(fs::exists(dir / "out"));

    // Global options after the subcommand are the same options.
    const Outcome after = Run({"list", "--progress=json", "-l", "0", card.string()});
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_EQ(after.out, text.out);
    EXPECT_NE(after.err.find("{\""), std::string::npos) << after.err;
}

TEST_F(KalvoryCommand, ListJsonDescribesTargetsAndExtents) {
    const fs::path card = SampleCard();
    const Outcome json = Run({"list", "--json", card.string()});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"source\": \"" + card.string() + "\""), std::string::npos);
    const std::regex object(
        R"re(\{"path": "([^"]*)", "size": (\d+), "folder": (true|false), "found": "[a-z-]+", "signature": [^,]+, )re"
        R"re("deleted": (true|false), "carved": (true|false), "chainBroken": (true|false), "partial": (true|false), )re"
        R"re("repaired": false, "extents": \[([^\]]*)\], "pathShortened": false, "renamed": false, "damaged": \[\], )re"
        R"re("overwritten": false, "matchesUpTo": null\})re");
    const std::regex extent(R"re(\{"start": (\d+), "length": (\d+), "cardStart": (\d+)\})re");
    std::map<std::string, std::smatch> targets;
    int folders = 0;
    for (auto it = std::sregex_iterator(json.out.begin(), json.out.end(), object); it != std::sregex_iterator(); ++it) {
        targets[(*it)[1]] = *it;
        folders += (*it)[3] == "true" ? 1 : 0;
    }
    EXPECT_EQ(targets.size(), 20u) << json.out;
    EXPECT_EQ(folders, 9);
    for (const SampleFile& file : kSampleFiles) {
        ASSERT_EQ(targets.count(file.path), 1u) << file.path;
        const std::smatch& target = targets.at(file.path);
        EXPECT_EQ(std::stoull(target[2]), file.size) << file.path;
        EXPECT_EQ(target[4] == "true", file.deleted) << file.path;
        EXPECT_EQ(target[5] == "true", file.carved) << file.path;
        const std::string extents = target[8];
        uint64_t covered = 0;
        for (auto e = std::sregex_iterator(extents.begin(), extents.end(), extent); e != std::sregex_iterator(); ++e)
        {
            covered += std::stoull((*e)[2]);
            EXPECT_EQ((*e)[3], (*e)[1]) << file.path; // a bare volume: the card's offsets are its own
        }
        EXPECT_EQ(covered, file.size) << file.path;
    }
    EXPECT_EQ(targets.at("DCIM/101CDPFP")[4], "true");
}

TEST_F(KalvoryCommand, BadUsageExitsWithTwo) {
    const fs::path card = SampleCard();
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {"restore", card.string()}, {"recover", card.string()}, {"list"},
             {"recover", "--mode", "everything", card.string(), (dir / "out").string()}}) {
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(outcome.exitCode, 2) << ::testing::PrintToString(arguments) << outcome.err;
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(KalvoryCommand, DestinationHoldingPrivateIsRefused) {
    const fs::path card = SampleCard();
    fs::create_directories(dir / "out/PRIVATE");
    const Outcome outcome = Run({"recover", card.string(), (dir / "out").string()});
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err, Message(1023));
    EXPECT_TRUE(fs::is_empty(dir / "out/PRIVATE"));
    EXPECT_FALSE(fs::exists(dir / "out/DCIM"));
}

TEST_F(KalvoryCommand, FailuresNameWhatFailedAndWhyOnTheMessagesLine) {
    TestSupport::WriteFileBytes(dir / "noise.img", std::string(1 << 20, '\x5A'));
    TestSupport::WriteFileBytes(dir / "empty.img", "");
    fs::create_directories(dir / "folder");
    struct Case {
        std::string source;
        int message;
        std::string detail;
    };
    const Case cases[] = {
        {(dir / "absent.img").string(), 104, (dir / "absent.img").string() + ": No such file or directory"},
        {(dir / "folder").string(), 106, (dir / "folder").string() + " is a folder, not a card or an image"},
        {(dir / "empty.img").string(), 110, (dir / "empty.img").string() + " is empty"},
        {(dir / "noise.img").string(), 114, (dir / "noise.img").string() + " holds no FAT12, FAT16, FAT32 or exFAT volume"},
    };
    for (const Case& c : cases)
        for (const char* command : {"recover", "list"}) {
            // The directory mode alone: the scanning modes go on over a card without a volume.
            std::vector<std::string> arguments{command, "--mode", "directory", c.source};
            if (std::string(command) == "recover")
                arguments.push_back((dir / "out").string());
            const Outcome outcome = Run(arguments);
            EXPECT_EQ(outcome.exitCode, 3) << c.source;
            const std::string message = Message(c.message);
            EXPECT_EQ(outcome.err, message.substr(0, message.size() - 1) + " " + c.detail + "\n");
        }

    // Noise scanned as a whole card: nothing found, and the summary says how it was read.
    const Outcome scanned = Run({"recover", (dir / "noise.img").string(), (dir / "out").string()});
    EXPECT_EQ(scanned.exitCode, 1) << scanned.err;
    EXPECT_NE(scanned.out.find("the whole card was scanned as 512-byte sectors"), std::string::npos) << scanned.out;

    const Outcome noParent = Run({"recover", SampleCard().string(), (dir / "no/such/out").string()});
    EXPECT_EQ(noParent.exitCode, 3);
    EXPECT_EQ(noParent.err.rfind("kalvory: The destination folder cannot be created: ", 0), 0u) << noParent.err;
}

// A device node the user may not read: the message says how to get access.
TEST_F(KalvoryCommand, AnUnreadableDeviceTellsHowToGetAccess) {
    const fs::path node = dir / "sdz1";
    if (::geteuid() != 0 || ::mknod(node.c_str(), S_IFBLK | 0600, makedev(7, 0)) != 0)
        GTEST_SKIP() << "making a device node needs root";
    fs::permissions(dir.Path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    Child kalvory(KALVORY_BINARY, {"list", node.string()}, dir.Path(), /*asUser=*/65534);
    const Outcome outcome = kalvory.Finish();
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_NE(outcome.err.find(node.string() + ": permission denied: run as root or join the disk group"),
              std::string::npos)
        << outcome.err;
}

TEST_F(KalvoryCommand, SecondRecoverIntoTheSameFolderNeverOverwrites) {
    // A card without PRIVATE, so the second run is not refused and meets its own files.
    TestSupport::FatImageBuilder builder(TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat12));
    builder.AddFile("DCIM/100CDPFP/IMGA0001.JPG", std::string(6000, 'a'));
    builder.AddFile("DCIM/100CDPFP/IMGA0002.JPG", std::string(7000, 'b'));
    const fs::path card = dir / "photos.img";
    builder.Build().WriteTo(card);
    const fs::path out = dir / "out";
    ASSERT_EQ(Run({"recover", card.string(), out.string()}).exitCode, 0);
    TestSupport::WriteFileBytes(out / "DCIM/100CDPFP/IMGA0001.JPG", "edited by the user");

    const Outcome again = Run({"recover", card.string(), out.string()});
    EXPECT_EQ(again.exitCode, 1) << again.err;
    EXPECT_EQ(again.out, "Recovered 0 files (0 bytes) into " + out.string() + "\n" +
                             ReportLine(out / "kalvory-report (2).json"));
    EXPECT_EQ(ReadText(out / "DCIM/100CDPFP/IMGA0001.JPG"), "edited by the user");
    EXPECT_EQ(ReadText(out / "DCIM/100CDPFP/IMGA0002.JPG"), std::string(7000, 'b'));

    // With PRIVATE recovered once, the folder is refused as already used.
    const fs::path sample = SampleCard();
    ASSERT_EQ(Run({"recover", sample.string(), (dir / "full").string()}).exitCode, 0);
    const std::string clip = ReadText(dir / "full/PRIVATE/AVCHD/BDMV/STREAM/00000.MTS");
    const Outcome refused = Run({"recover", sample.string(), (dir / "full").string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, Message(1023));
    EXPECT_TRUE(ReadText(dir / "full/PRIVATE/AVCHD/BDMV/STREAM/00000.MTS") == clip);
}

// A card whose image ends inside a stream and one of whose folders points past
// the volume: the rest comes back, and the summary says what was left out.
TEST_F(KalvoryCommand, ADamagedCardsSummaryCountsWhatWasLeftOut) {
    using TestSupport::CardItem;
    const std::vector<CardItem> items = {
        {"DCIM/100CDPFP/IMGA0001.JPG", std::string(7000, 'p')},
        {.path = "LOST", .folder = true},
        {"LOST/NOTE.TXT", std::string(100, 'n')},
        {"CLIP.MTS", std::string(20000, 'c')},
    };
    const TestSupport::SmallCard card =
        TestSupport::BuildSmallCard(TestSupport::CardSystem::Fat32, items, {.folderPastVolume = "LOST"});
    const fs::path image = dir / "damaged.img";
    TestSupport::WriteFileBytes(image, card.Cut(card.start.at("CLIP.MTS") + 5000));
    const fs::path out = dir / "out";

    const Outcome recovered = Run({"recover", image.string(), out.string()});
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_EQ(ReadText(out / "DCIM/100CDPFP/IMGA0001.JPG"), items[0].data);
    EXPECT_FALSE(fs::exists(out / "CLIP.MTS"));
    EXPECT_NE(recovered.out.find("1 files cross the end of the image and were not saved"), std::string::npos)
        << recovered.out;
    EXPECT_NE(recovered.out.find("1 folders lie past the end of the card or its image"), std::string::npos)
        << recovered.out;
}

} // namespace
