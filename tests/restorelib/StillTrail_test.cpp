// Deleted stills a camera wrote into the holes of deleted files, between
// files that were then deleted too, and some of their clusters later taken
// by another file: every still whose clusters are all on the card and whose
// restart markers can vouch for them comes back byte for byte, and none comes
// back holding another file's cluster.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"

namespace {

using namespace RestoreTest;
using TestSupport::FatEntryOptions;

constexpr uint32_t kPoolStart = 3000;
constexpr uint32_t kPoolClusters = 700;
constexpr size_t kCluster = 512;

void PutBe16(std::string& bytes, uint32_t value) {
    bytes += static_cast<char>(value >> 8);
    bytes += static_cast<char>(value & 0xFF);
}

// A baseline 4:2:2 picture one MCU row high; with `restarts`, an interval of
// 1 to 3 MCUs between markers. Entropy-coded bytes are seeded, 0xFF stuffed.
std::string RestartJpeg(std::mt19937& rng, bool restarts) {
    const uint32_t intervals = 25 + rng() % 40;
    const uint32_t interval = 1 + rng() % 3;
    const uint32_t units = (intervals - 1) * interval + 1 + rng() % interval;
    std::string bytes("\xFF\xD8\xFF\xE1\x00\x10" "Exif\0\0" "II*\0\x08\0\0\0", 20);
    bytes += std::string("\xFF\xC0\x00\x11\x08\x00\x08", 7);
    PutBe16(bytes, 16 * units);
    bytes += std::string("\x03\x01\x21\x00\x02\x11\x01\x03\x11\x01", 10);
    if (restarts) {
        bytes += std::string("\xFF\xDD\x00\x04", 4);
        PutBe16(bytes, interval);
    }
    bytes += std::string("\xFF\xDA\x00\x0C\x03\x01\x00\x02\x11\x03\x11\x00\x3F\x00", 14);
    for (uint32_t i = 0; i < intervals; ++i) {
        if (i > 0 && restarts) {
            bytes += '\xFF';
            bytes += static_cast<char>(0xD0 + (i - 1) % 8);
        }
        for (uint32_t n = 40 + rng() % 60; n > 0; --n) {
            const uint8_t byte = static_cast<uint8_t>(rng());
            bytes += static_cast<char>(byte);
            if (byte == 0xFF)
                bytes += '\0';
        }
    }
    return bytes + "\xFF\xD9";
}

struct PlacedFile {
    std::string path;
    std::string data;
    std::vector<uint32_t> clusters;
    bool restarts = false;
};

// The pool's clusters as a camera hands them out: the lowest free ones first.
class Pool {
public:
    Pool() : free_(kPoolClusters, true) {}
    std::vector<uint32_t> Take(size_t bytes) {
        std::vector<uint32_t> taken;
        for (uint32_t c = 0; c < kPoolClusters && taken.size() * kCluster < bytes; ++c)
            if (free_[c]) {
                free_[c] = false;
                taken.push_back(kPoolStart + c);
            }
        return taken;
    }
    void Free(const std::vector<uint32_t>& clusters) {
        for (uint32_t c : clusters)
            free_[c - kPoolStart] = true;
    }
    std::vector<uint32_t> FreeClusters() const {
        std::vector<uint32_t> all;
        for (uint32_t c = 0; c < kPoolClusters; ++c)
            if (free_[c])
                all.push_back(kPoolStart + c);
        return all;
    }

private:
    std::vector<bool> free_;
};

struct StillCard {
    TestSupport::FatImage image;
    std::vector<PlacedFile> stills; // all deleted
};

enum class Between {
    Data,     // files of other data lie between a still's fragments
    Pictures, // other pictures with restart markers too, half of them
};

StillCard BuildStillCard(uint32_t seed, Between between) {
    std::mt19937 rng(seed);
    TestSupport::FatVolumeOptions volume = TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat32);
    volume.totalSectors = 68000; // just over the clusters FAT32 needs
    TestSupport::FatImageBuilder builder(volume);
    builder.AddFolder("DCIM/100CDPFP");
    builder.AddFolder("DATA");
    Pool pool;
    int names = 0;
    const auto add = [&](PlacedFile& file) {
        file.clusters = pool.Take(file.data.size());
        FatEntryOptions placed;
        placed.clusters = file.clusters;
        builder.AddFile(file.path, file.data, placed);
    };
    const auto other = [&](size_t clusters) {
        char name[24];
        const bool picture = between == Between::Pictures && rng() % 2 == 0;
        std::snprintf(name, sizeof name, picture ? "DATA/F%04d.JPG" : "DATA/F%04d.BIN", ++names);
        PlacedFile file{name, picture ? RestartJpeg(rng, true) : Pattern(clusters * kCluster - rng() % kCluster, rng()),
                        {}, picture};
        add(file);
        return file;
    };
    // Files one after the other, then every other one deleted.
    std::vector<PlacedFile> first;
    for (int i = 0; i < 40; ++i)
        first.push_back(other(1 + rng() % 3));
    std::vector<PlacedFile> kept;
    for (PlacedFile& file : first) {
        if (rng() % 2 == 0) {
            builder.DeleteEntry(file.path);
            pool.Free(file.clusters);
        } else {
            kept.push_back(file);
        }
    }
    // The stills fill the holes around the files still there.
    StillCard card{TestSupport::FatImage({}, {}, {}), {}};
    for (int n = 1; n <= 14; ++n) {
        char name[40];
        std::snprintf(name, sizeof name, "DCIM/100CDPFP/IMGA%04d.JPG", n);
        const bool restarts = n % 5 != 0;
        PlacedFile still{name, RestartJpeg(rng, restarts), {}, restarts};
        add(still);
        card.stills.push_back(still);
    }
    // Most of the files between them are deleted as well, the stills all.
    for (const PlacedFile& file : kept)
        if (rng() % 4 != 0) {
            builder.DeleteEntry(file.path);
            pool.Free(file.clusters);
        }
    for (const PlacedFile& still : card.stills) {
        builder.DeleteEntry(still.path);
        pool.Free(still.clusters);
    }
    // One more file takes a cluster of some stills, after their first, and a few free ones anywhere.
    std::vector<uint32_t> free = pool.FreeClusters();
    std::shuffle(free.begin(), free.end(), rng);
    free.resize(3);
    for (const PlacedFile& still : card.stills)
        if (rng() % 4 == 0)
            free.push_back(still.clusters[1 + rng() % (still.clusters.size() - 1)]);
    std::sort(free.begin(), free.end());
    free.erase(std::unique(free.begin(), free.end()), free.end());
    FatEntryOptions placed;
    placed.clusters = free;
    builder.AddFile("DATA/LAST.BIN", Pattern(free.size() * kCluster, rng()), placed);
    builder.DeleteEntry("DATA/LAST.BIN");
    card.image = builder.Build();
    return card;
}

bool OnTheCard(const TestSupport::FatImage& image, const PlacedFile& file) {
    for (size_t k = 0; k < file.clusters.size(); ++k) {
        const size_t take = std::min(kCluster, file.data.size() - k * kCluster);
        const uint8_t* at = image.Bytes().data() + image.Layout().ClusterOffset(file.clusters[k]);
        if (std::string(reinterpret_cast<const char*>(at), take) != file.data.substr(k * kCluster, take))
            return false;
    }
    return true;
}

bool Contiguous(const PlacedFile& file) {
    return file.clusters.back() - file.clusters.front() + 1 == file.clusters.size();
}

// What one recovery of such a card gave back, still by still.
struct Tally {
    int stitched = 0;  // fragmented stills that came back whole
    int missed = 0;    // stills with restarts, on the card, not recovered
    int gone = 0;      // stills with restarts whose data another file took
};

class StillTrail : public RestoreJobTest {
protected:
    // Recovers the card; any still written must be byte-identical, and none whose data is gone.
    Tally Recover(const StillCard& card, const std::string& name) {
        const fs::path image = dir / (name + ".img");
        card.image.WriteTo(image);
        Restore::RestoreMain job(0, Wide(image));
        EXPECT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
        const fs::path out = dir / name;
        fs::create_directories(out);
        job.SetDestination(Wide(out));
        Completion completion;
        EXPECT_EQ(VerifyNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        EXPECT_EQ(SaveNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        const std::map<std::string, std::string> recovered = FilesUnder(out);
        Tally tally;
        for (const PlacedFile& still : card.stills) {
            const auto found = recovered.find(still.path);
            const bool written = found != recovered.end();
            if (OnTheCard(card.image, still)) {
                if (written) {
                    EXPECT_TRUE(found->second == still.data) << still.path << " holds other files' data";
                }
                if (still.restarts) {
                    tally.missed += !written;
                    tally.stitched += written && !Contiguous(still);
                }
            } else if (still.restarts) {
                // Without restart markers a foreign cluster of seemingly coded data passes any judge.
                EXPECT_FALSE(written) << still.path << "'s data is gone, yet it was written";
                ++tally.gone;
            }
        }
        return tally;
    }
};

TEST_F(StillTrail, StillsComeBackWholeFromTheirOwnClustersOrNotAtAll) {
    Tally all;
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Tally tally = Recover(BuildStillCard(seed, Between::Data), "data" + std::to_string(seed));
        EXPECT_EQ(tally.missed, 0);
        all.stitched += tally.stitched;
        all.gone += tally.gone;
    }
    // The layouts hold both cases.
    EXPECT_GT(all.stitched, 5);
    EXPECT_GT(all.gone, 2);
}

// Another picture's coded data continues a still's restart markers one cluster in eight: such
// stills may stay judged overwritten, but none comes back holding the other picture's cluster.
TEST_F(StillTrail, OtherPicturesBetweenTheFragmentsAreNeverTakenForTheStills) {
    Tally all;
    for (uint32_t seed = 11; seed <= 13; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Tally tally = Recover(BuildStillCard(seed, Between::Pictures), "pictures" + std::to_string(seed));
        all.stitched += tally.stitched;
        all.gone += tally.gone;
    }
    EXPECT_GT(all.stitched, 0);
    EXPECT_GT(all.gone, 2);
}

} // namespace
