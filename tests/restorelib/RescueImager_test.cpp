// The imaging passes against a card whose bad sectors are chosen at random:
// what ends in the image and the map, and what is read how often, through
// interruptions and resumes.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "Rescue_Imager.h"
#include "Rescue_Map.h"

namespace {

using Rescue::Area;
constexpr uint64_t kSector = 512;

// A card with bad sectors for good and sectors that fail once; after
// `stopAfter` reads it raises the stop flag, or with `vanish` goes away.
class FakeCard : public Rescue::RescueSource {
public:
    FakeCard(std::vector<uint8_t> data, std::set<uint64_t> bad, std::set<uint64_t> flaky)
        : data_(std::move(data)), bad_(std::move(bad)), flaky_(std::move(flaky)), returned_(Sectors(), 0) {}

    uint64_t Size() const override { return data_.size(); }
    Rescue::SourceRead ReadAt(uint64_t position, uint8_t* out, size_t count) override {
        if (++reads_ == stopAfter) {
            if (vanish)
                return {0, Rescue::ReadOutcome::Lost, ENODEV};
            stop.store(true);
        }
        Rescue::SourceRead result;
        count = static_cast<size_t>(std::min<uint64_t>(count, data_.size() - position));
        size_t good = 0;
        for (; good < count; good += kSector) {
            const uint64_t sector = (position + good) / kSector;
            if (bad_.count(sector) || flaky_.erase(sector)) {
                result.outcome = Rescue::ReadOutcome::Bad;
                result.error = EIO;
                break;
            }
        }
        good = std::min(good, count);
        // Some readers hand over what came before the fault, some nothing.
        result.bytes = result.outcome == Rescue::ReadOutcome::Bad && !partial ? 0 : good;
        std::copy_n(data_.begin() + static_cast<ptrdiff_t>(position), result.bytes, out);
        for (uint64_t at = position; at < position + result.bytes; at += kSector)
            ++returned_[at / kSector];
        return result;
    }
    size_t Sectors() const { return static_cast<size_t>((data_.size() + kSector - 1) / kSector); }
    // How often each sector's bytes were handed over, over every run.
    const std::vector<int>& Returned() const { return returned_; }
    void Revive() { vanish = false; stopAfter = 0; reads_ = 0; stop.store(false); }

    std::atomic<bool> stop{false};
    uint64_t stopAfter = 0; // 0: never
    bool vanish = false;
    bool partial = true;

private:
    std::vector<uint8_t> data_;
    std::set<uint64_t> bad_;
    std::set<uint64_t> flaky_;
    std::vector<int> returned_;
    uint64_t reads_ = 0;
};

class MemoryImage : public Rescue::RescueImage {
public:
    explicit MemoryImage(uint64_t size) : bytes(size, 0) {}
    int WriteAt(uint64_t position, const uint8_t* data, size_t count) override {
        std::copy_n(data, count, bytes.begin() + static_cast<ptrdiff_t>(position));
        return 0;
    }
    int Flush() override { return 0; }
    std::vector<uint8_t> bytes;
};

struct RunResult {
    Rescue::ImageEnd end;
    Rescue::Map map;
    size_t saves;
};

// One run over `map`, which goes through the mapfile text at every save as it
// would on disk; the map a next run starts from is the last one saved.
RunResult Image(FakeCard& card, MemoryImage& image, const Rescue::Map& start, int retries) {
    Rescue::Map map = start;
    Rescue::ImagerOptions options;
    options.copyBlock = 64 * 1024;
    options.retries = retries;
    std::string saved;
    size_t saves = 0;
    Rescue::Imager imager(card, image, map, options,
                          [&](const Rescue::Map& current, Rescue::SaveReason) {
                              saved = Rescue::FormatMap(current, "test");
                              ++saves;
                              return 0;
                          },
                          card.stop);
    const Rescue::ImageEnd end = imager.Run();
    std::string error;
    const std::optional<Rescue::Map> reread = Rescue::ParseMap(saved, error);
    EXPECT_TRUE(reread) << error;
    return {end, reread.value_or(Rescue::Map()), saves};
}

std::set<uint64_t> SectorsNotFinished(const Rescue::Map& map) {
    std::set<uint64_t> sectors;
    for (const Rescue::MapBlock& block : map.Blocks())
        if (block.area != Area::Finished)
            for (uint64_t at = block.start; at < block.End(); at += kSector)
                sectors.insert(at / kSector);
    return sectors;
}

TEST(RescueImager, RandomCardsInterruptedAndResumedEndAsOneRunWithNothingReadTwice) {
    for (uint32_t seed = 1; seed <= 150; ++seed) {
        std::mt19937_64 random(seed);
        const uint64_t size = kSector * (1 + random() % 3000) + (seed % 7 == 0 ? 100 : 0);
        std::vector<uint8_t> data(size);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(random() | 1); // never zero: a zeroed sector shows
        std::set<uint64_t> bad, flaky;
        const uint64_t sectors = (size + kSector - 1) / kSector;
        for (int runs = static_cast<int>(random() % 5); runs-- > 0;) {
            const uint64_t first = random() % sectors;
            for (uint64_t s = first; s < std::min(sectors, first + 1 + random() % 300); ++s)
                bad.insert(s);
        }
        for (int n = static_cast<int>(random() % 4); n-- > 0;)
            if (const uint64_t s = random() % sectors; !bad.count(s))
                flaky.insert(s);
        FakeCard card(data, bad, flaky);
        card.partial = random() % 2 == 0;
        card.vanish = random() % 2 == 0;
        card.stopAfter = 1 + random() % 40;
        MemoryImage image(size);
        const std::string what = "seed " + std::to_string(seed);

        RunResult run = Image(card, image, Rescue::Map(size), 1);
        ASSERT_NE(run.end, Rescue::ImageEnd::Failed) << what;
        for (int resumes = 0; run.end != Rescue::ImageEnd::Finished && resumes < 3; ++resumes) {
            EXPECT_EQ(run.end, card.vanish ? Rescue::ImageEnd::SourceLost : Rescue::ImageEnd::Interrupted) << what;
            card.Revive();
            run = Image(card, image, run.map, 1);
        }
        ASSERT_EQ(run.end, Rescue::ImageEnd::Finished) << what;
        EXPECT_EQ(SectorsNotFinished(run.map), bad) << what;
        for (const Rescue::MapBlock& block : run.map.Blocks())
            EXPECT_TRUE(block.area == Area::Finished || block.area == Area::BadSector) << what;
        EXPECT_EQ(run.map.phase, Rescue::Phase::Finished) << what;
        std::vector<uint8_t> expected = data;
        for (const uint64_t s : bad)
            std::fill_n(expected.begin() + static_cast<ptrdiff_t>(s * kSector),
                        std::min<uint64_t>(kSector, size - s * kSector), 0);
        EXPECT_TRUE(image.bytes == expected) << what;
        for (uint64_t s = 0; s < sectors; ++s)
            ASSERT_LE(card.Returned()[s], 1) << what << ": sector " << s << " read twice";

        // A finished map read again reads nothing at all.
        card.Revive();
        const std::vector<int> before = card.Returned();
        const RunResult again = Image(card, image, run.map, 0);
        EXPECT_EQ(again.end, Rescue::ImageEnd::Finished) << what;
        EXPECT_TRUE(card.Returned() == before) << what;
    }
}

TEST(RescueImager, EveryAreaFoundBadIsSavedAtOnce) {
    std::vector<uint8_t> data(kSector * 2048, 0x5A);
    FakeCard card(data, {100, 101, 1500}, {});
    MemoryImage image(data.size());
    const RunResult run = Image(card, image, Rescue::Map(data.size()), 0);
    ASSERT_EQ(run.end, Rescue::ImageEnd::Finished);
    // Per pass (four begun, the end) and per failed read that changed an area:
    // the two copy blocks, then each bad sector the trimming found.
    EXPECT_GE(run.saves, 5u + 2u + 3u);
}

TEST(RescueMap, TextRoundTripsAndMalformedMapsAreRefused) {
    Rescue::Map map(10 * kSector + 7);
    map.Set(kSector, 3 * kSector, Area::BadSector);
    map.Set(5 * kSector, 6 * kSector, Area::NonScraped);
    map.Set(6 * kSector, 7 * kSector, Area::NonTrimmed);
    map.Set(7 * kSector, 10 * kSector + 7, Area::Finished);
    map.Set(0, kSector, Area::Finished);
    map.currentPosition = 0x1234;
    map.phase = Rescue::Phase::Scraping;
    map.pass = 2;
    std::string error;
    const std::optional<Rescue::Map> back = Rescue::ParseMap(Rescue::FormatMap(map, "x"), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->Blocks(), map.Blocks());
    EXPECT_EQ(back->currentPosition, 0x1234u);
    EXPECT_EQ(back->phase, Rescue::Phase::Scraping);
    EXPECT_EQ(back->pass, 2);
    EXPECT_EQ(map.Blocks().size(), 6u) << "neighbours of one state are one block";

    const std::string status = "0x0  +  1\n";
    const struct {
        const char* what;
        std::string text;
        bool accepted;
    } cases[] = {
        {"ddrescue's own", "# Mapfile\n# current_pos  current_status  current_pass\n0x000F0000     +               1\n"
                           "#      pos        size  status\n0x00000000  0x00100000  +\n", true},
        {"no pass, decimal and octal", "0 ?\n0 512 +\n512 01000 -\n", true},
        {"no blocks", status, true},
        {"no status line", "", false},
        {"a gap", status + "0 512 +\n1024 512 -\n", false},
        {"an overlap", status + "0 1024 +\n512 512 -\n", false},
        {"not starting at 0", status + "512 512 +\n", false},
        {"an unknown state", status + "0 512 x\n", false},
        {"a zero size", status + "0 0 +\n", false},
        {"a negative size", status + "0 -512 +\n", false},
        {"past 63 bits", status + "0 0x7FFFFFFFFFFFFFFF +\n0x7FFFFFFFFFFFFFFF 1 +\n", false},
        {"trailing garbage", status + "0 512z +\n", false},
        {"a fourth word", status + "0 512 + 9\n", false},
    };
    for (const auto& c : cases) {
        const std::optional<Rescue::Map> parsed = Rescue::ParseMap(c.text, error);
        EXPECT_EQ(parsed.has_value(), c.accepted) << c.what << ": " << error;
    }
}

} // namespace
