// Entries of one card that meet at one host path all come back, the later
// ones under numbered names that the listing shows before anything is copied.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>

#include "CliTestSupport.h"
#include "support/ExFatImageBuilder.h"
#include "support/FatImageBuilder.h"
#include "support/MediaSamples.h"
#include "support/TempDir.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace CliTest;

struct CollisionCard {
    const char* name;
    // Writes the card; returns what each recovered path must hold.
    std::map<std::string, std::string> (*write)(const fs::path& image);
    int renamed;
};

// A damaged root whose file slot bears the name of the folder after it, and a
// deleted picture whose rebuilt name is a live picture's.
std::map<std::string, std::string> WriteFatCard(const fs::path& image) {
    TestSupport::FatImageBuilder card(TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat16));
    std::array<uint8_t, 32> slot{};
    std::memcpy(slot.data(), "DCIM       ", 11);
    slot[11] = 0x20;    // a file
    slot[26] = 2;       // its first cluster: the folder's own
    slot[28] = 32;      // 32 bytes long
    card.AddRawSlot("", slot);
    const std::string old = TestSupport::ExifJpeg(5000, 1);
    const std::string fresh = TestSupport::ExifJpeg(6000, 2);
    card.AddFile("DCIM/100CDPFP/IMGA0001.JPG", old);
    card.DeleteEntry("DCIM/100CDPFP/IMGA0001.JPG");
    card.AddFile("DCIM/100CDPFP/IMGA0001.JPG", fresh);
    const TestSupport::FatImage built = card.Build();
    built.WriteTo(image);
    const auto cluster2 = built.Bytes().begin() + static_cast<std::ptrdiff_t>(built.Layout().ClusterOffset(2));
    return {{"DCIM", std::string(cluster2, cluster2 + 32)},
            {"DCIM (2)/100CDPFP/IMGA0001.JPG", old},
            {"DCIM (2)/100CDPFP/IMGA0001 (2).JPG", fresh}};
}

// exFAT names may hold both slashes; each maps to one safe host name.
std::map<std::string, std::string> WriteExFatCard(const fs::path& image) {
    TestSupport::ExFatImageBuilder card;
    card.AddFile("aXb", "slash");
    card.AddFile("a\\b", "backslash");
    const uint64_t nameUnit1 = card.Describe("aXb").entryOffset + 64 + 2 + 2; // File Name entry, unit 1
    card.WriteRaw(nameUnit1, {'/', 0});
    card.WriteTo(image);
    return {{"a_b", "slash"}, {"a_b (2)", "backslash"}};
}

class NameCollisions : public ::testing::TestWithParam<CollisionCard> {
protected:
    TestSupport::TempDir dir{"kalvory-collide"};
};

TEST_P(NameCollisions, EveryEntryComesBackUnderTheNameTheListingShows) {
    const fs::path image = dir / "card.img";
    const std::map<std::string, std::string> expected = GetParam().write(image);
    const fs::path out = dir / "out";

    const Outcome listed = RunKalvory({"list", "--json", image.string()}, dir.Path());
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    for (const auto& [path, bytes] : expected)
        EXPECT_NE(listed.out.find("\"path\": \"" + path + "\""), std::string::npos) << path << "\n" << listed.out;

    const Outcome recovered = RunKalvory({"recover", image.string(), out.string()}, dir.Path());
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_NE(recovered.out.find(std::to_string(GetParam().renamed) + " files were saved under a numbered name"),
              std::string::npos) << recovered.out;
    EXPECT_EQ(RecoveredFilesUnder(out), expected);

    // A second run into the same folder adds nothing and touches nothing.
    std::map<std::string, fs::file_time_type> written;
    for (const auto& [path, bytes] : expected)
        written[path] = fs::last_write_time(out / path);
    const Outcome again = RunKalvory({"recover", image.string(), out.string()}, dir.Path());
    EXPECT_EQ(again.exitCode, 1) << again.err;
    EXPECT_EQ(RecoveredFilesUnder(out), expected);
    for (const auto& [path, time] : written)
        EXPECT_EQ(fs::last_write_time(out / path), time) << path;
}

INSTANTIATE_TEST_SUITE_P(Cards, NameCollisions,
                         ::testing::Values(CollisionCard{"Fat16", &WriteFatCard, 2},
                                           CollisionCard{"ExFat", &WriteExFatCard, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
