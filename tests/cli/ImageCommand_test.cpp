// `kalvory image` through the card-reader model: a card with three bad ranges
// (inside a still, inside a stream, in free space) imaged once, read by
// ddrescuelog, recovered from with its map, and imaged again after an
// interruption half way. Each test skips when FUSE cannot mount here.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include "CardReaderModel.h"
#include "Rescue_MapFile.h"
#include "restorelib/RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;
using RestoreTest::Pattern;

const char* const kStill = "DCIM/100CDPFP/IMGA0001.JPG";
const char* const kStream = "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS";
constexpr uint64_t kSector = 512;

struct BadRange {
    uint64_t start;
    uint64_t length;
};

struct Card {
    std::string bytes;
    std::vector<BadRange> bad;
    std::vector<std::string> serverOptions;
};

Card WriteCard(const fs::path& path) {
    TestSupport::FatImageBuilder builder(TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat16));
    builder.AddFile(kStill, Pattern(100 * 1024, 1));
    builder.AddFile(kStream, Pattern(900 * 1024, 3));
    const TestSupport::FatImage image = builder.Build();
    image.WriteTo(path);
    Card card{TestSupport::ReadFileBytes(path), {}, {}};
    card.bad = {{TestSupport::VolumeOffsetOf(image, kStill, 50 * 1024), 3 * kSector},
                {TestSupport::VolumeOffsetOf(image, kStream, 700 * 1024), 2 * kSector},
                {20u << 20, 4 * kSector}};
    for (const BadRange& bad : card.bad)
        card.serverOptions.insert(card.serverOptions.end(),
                                  {"--bad", std::to_string(bad.start) + ":" + std::to_string(bad.length)});
    return card;
}

std::string WithZeros(const Card& card) {
    std::string bytes = card.bytes;
    for (const BadRange& bad : card.bad)
        std::fill_n(bytes.begin() + static_cast<ptrdiff_t>(bad.start), bad.length, '\0');
    return bytes;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

// What standard error says besides the progress.
std::string Messages(const std::string& err) {
    std::string messages;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("kalvory: ", 0) == 0)
            messages += line + "\n";
    return messages;
}

std::vector<Rescue::MapBlock> MapBlocks(const fs::path& map) {
    std::string error;
    const std::optional<Rescue::Map> loaded = Rescue::LoadMapFile(map.string(), error);
    EXPECT_TRUE(loaded) << error;
    return loaded ? loaded->Blocks() : std::vector<Rescue::MapBlock>{};
}

TEST(ImageCommand, AFailingCardImagedOnceRecoversAsTheCardDoes) {
    TestSupport::TempDir dir("kalvory-image");
    const Card card = WriteCard(dir / "card.img");
    CardReaderModel reader(dir / "card.img", dir.Path(), card.serverOptions);
    if (!reader.Mounted())
        GTEST_SKIP() << "FUSE cannot mount here (python3-fusepy, fuse and /dev/fuse are needed)";
    const fs::path image = dir / "copy.img", map = dir / "copy.map";

    const Outcome imaged = RunKalvory({"image", reader.Card().string(), image.string(), "--map", map.string()}, dir.Path());
    ASSERT_EQ(imaged.exitCode, 0) << imaged.err;
    EXPECT_NE(imaged.out.find("4.5 KiB could not be read"), std::string::npos) << imaged.out;
    EXPECT_TRUE(TestSupport::ReadFileBytes(image) == WithZeros(card)) << "zeros exactly where the card failed";

    // ddrescuelog lists every sector not rescued: exactly the bad ones.
    Child ddrescuelog("/usr/bin/ddrescuelog", {"-b512", "-l?*/-", map.string()}, dir.Path());
    const Outcome listed = ddrescuelog.Finish();
    ASSERT_EQ(listed.exitCode, 0) << "ddrescuelog (Debian gddrescue) reads the map: " << listed.err;
    std::string expected;
    for (const BadRange& bad : card.bad)
        for (uint64_t at = bad.start; at < bad.start + bad.length; at += kSector)
            expected += std::to_string(at / kSector) + "\n";
    EXPECT_EQ(listed.out, expected);

    // Recovering from the image and its map gives what recovering from the card gives.
    const fs::path fromCard = dir / "from-card", fromImage = dir / "from-image";
    const Outcome direct = RunKalvory({"recover", reader.Card().string(), fromCard.string()}, dir.Path());
    const Outcome mapped = RunKalvory({"recover", "--map", map.string(), image.string(), fromImage.string()}, dir.Path());
    ASSERT_EQ(direct.exitCode, 0) << direct.err;
    ASSERT_EQ(mapped.exitCode, 0) << mapped.err;
    EXPECT_EQ(RecoveredFilesUnder(fromImage), RecoveredFilesUnder(fromCard));
    EXPECT_NE(direct.out.find(": bytes 51200-52735\n"), std::string::npos) << direct.out;
    EXPECT_EQ(Replace(mapped.out, fromImage.string(), "DEST"), Replace(direct.out, fromCard.string(), "DEST"));
    const auto damaged = [](const fs::path& report) {
        const std::string json = ReadText(report);
        std::string found;
        const std::regex field("\"damaged\": \\[[^\\]]*\\]");
        for (auto it = std::sregex_iterator(json.begin(), json.end(), field); it != std::sregex_iterator(); ++it)
            found += it->str() + "\n";
        return found;
    };
    EXPECT_EQ(damaged(fromImage / "kalvory-report.json"), damaged(fromCard / "kalvory-report.json"));
    EXPECT_NE(damaged(fromCard / "kalvory-report.json").find("\"start\": 716800"), std::string::npos);

    const Outcome listCard = RunKalvory({"list", "--json", "--check", reader.Card().string()}, dir.Path());
    const Outcome listImage = RunKalvory({"list", "--json", "--check", "--map", map.string(), image.string()}, dir.Path());
    EXPECT_EQ(Replace(listImage.out, image.string(), "SOURCE"), Replace(listCard.out, reader.Card().string(), "SOURCE"));
    EXPECT_EQ(Messages(listImage.err), Messages(listCard.err));
    EXPECT_NE(listCard.err.find("4.5 KiB of the card could not be read"), std::string::npos) << listCard.err;
    EXPECT_NE(listCard.out.find("\"damaged\": [{\"start\": 51200, \"length\": 1536}]"), std::string::npos) << listCard.out;

    // A map of another size is refused, and an existing image is never taken
    // without its map.
    TestSupport::WriteFileBytes(dir / "short.map", "0 +\n0 512 +\n");
    const Outcome wrongMap = RunKalvory({"list", "--map", (dir / "short.map").string(), image.string()}, dir.Path());
    EXPECT_NE(wrongMap.exitCode, 0);
    EXPECT_NE(wrongMap.err.find("covers 512 bytes, but " + image.string() + " holds"), std::string::npos) << wrongMap.err;
    const Outcome taken = RunKalvory({"image", reader.Card().string(), image.string(), "--map", (dir / "new.map").string()},
                                     dir.Path());
    EXPECT_EQ(taken.exitCode, 2);
    EXPECT_NE(taken.err.find(image.string() + " exists"), std::string::npos) << taken.err;
    EXPECT_TRUE(TestSupport::ReadFileBytes(image) == WithZeros(card));
}

struct Interruption {
    const char* what;
    std::vector<std::string> serverOptions;
    int exitCode;
    const char* message;
};

// Interrupted half way (Ctrl-C, or the card going away) and run again: the
// image and map of one run, and nothing the first run finished read again.
TEST(ImageCommand, InterruptedHalfWayAndRunAgainEndsAsOneRun) {
    const std::string half = std::to_string(16u << 20);
    const Interruption interruptions[] = {
        {"Ctrl-C", {"--pause-at", half}, 130, "Interrupted. The map "},
        {"a card that goes away", {"--vanish-after", half}, 3, "The card went away ("},
    };
    TestSupport::TempDir reference("kalvory-image");
    const Card card = WriteCard(reference / "card.img");
    const fs::path whole = reference / "whole.img";
    {
        CardReaderModel reader(reference / "card.img", reference.Path(), card.serverOptions);
        if (!reader.Mounted())
            GTEST_SKIP() << "FUSE cannot mount here (python3-fusepy, fuse and /dev/fuse are needed)";
        ASSERT_EQ(RunKalvory({"image", reader.Card().string(), whole.string()}, reference.Path()).exitCode, 0);
    }
    for (const Interruption& interruption : interruptions) {
        TestSupport::TempDir dir("kalvory-image");
        fs::copy_file(reference / "card.img", dir / "card.img");
        const fs::path image = dir / "copy.img", map = dir / "copy.map";
        std::vector<std::string> options = card.serverOptions;
        options.insert(options.end(), interruption.serverOptions.begin(), interruption.serverOptions.end());
        auto reader = std::make_unique<CardReaderModel>(dir / "card.img", dir.Path(), options);
        ASSERT_TRUE(reader->Mounted());
        const std::vector<std::string> command{"image", reader->Card().string(), image.string(), "--map", map.string()};
        fs::create_directory(dir / "run");
        Child first(KALVORY_BINARY, command, dir / "run");
        if (interruption.exitCode == 130) {
            ASSERT_TRUE(WaitForFile(dir / "paused")) << interruption.what;
            // The run reads on its main thread: the interrupt is taken as the
            // held read returns, before the next one.
            ::kill(first.Pid(), SIGINT);
            TestSupport::WriteFileBytes(dir / "resume", "");
        }
        const Outcome stopped = first.Finish();
        EXPECT_EQ(stopped.exitCode, interruption.exitCode) << interruption.what << stopped.err;
        EXPECT_NE(stopped.err.find(interruption.message), std::string::npos) << stopped.err;
        const std::vector<Rescue::MapBlock> afterFirst = MapBlocks(map);
        const size_t firstReads = reader->Reads().size();
        if (interruption.exitCode != 130) { // the card comes back
            reader.reset();
            reader = std::make_unique<CardReaderModel>(dir / "card.img", dir.Path(), card.serverOptions);
            ASSERT_TRUE(reader->Mounted());
        }

        const Outcome again = RunKalvory(command, dir.Path());
        ASSERT_EQ(again.exitCode, 0) << interruption.what << again.err;
        EXPECT_TRUE(TestSupport::ReadFileBytes(image) == TestSupport::ReadFileBytes(whole)) << interruption.what;
        EXPECT_EQ(MapBlocks(map), MapBlocks(whole.string() + ".map")) << interruption.what;
        uint64_t finishedFirst = 0;
        for (const Rescue::MapBlock& block : afterFirst)
            finishedFirst += block.area == Rescue::Area::Finished ? block.length : 0;
        EXPECT_GE(finishedFirst, 15u << 20) << interruption.what << ": about half was read before";
        const std::vector<ReadRequest> reads = reader->Reads();
        for (size_t k = firstReads; k < reads.size(); ++k) {
            for (const Rescue::MapBlock& block : afterFirst) {
                const bool overlaps = reads[k].offset < block.End() && block.start < reads[k].offset + reads[k].size;
                ASSERT_FALSE(block.area == Rescue::Area::Finished && overlaps)
                    << interruption.what << ": " << reads[k].offset << "+" << reads[k].size << " read again";
            }
        }
    }
}

} // namespace
