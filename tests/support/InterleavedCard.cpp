#include "support/InterleavedCard.h"

#include <cstdio>
#include <vector>

#include "support/MediaSamples.h"

namespace TestSupport {
namespace {

constexpr size_t kStillClusters = 3;
constexpr size_t kCluster = 512;

std::string StillPath(int number) {
    char name[40];
    std::snprintf(name, sizeof name, "DCIM/100CDPFP/IMGA%04d.JPG", number);
    return name;
}

} // namespace

InterleavedCard BuildInterleavedCard(int stills, int intactHoles, uint32_t seed) {
    std::map<std::string, std::string> stillData;
    for (int n = 1; n <= stills; ++n)
        stillData[StillPath(n)] = ExifJpeg(kCluster * (kStillClusters - 1) + 1 + (seed + n) % kCluster, seed + n);
    // The camera's layout: folders, then the stills one after the other.
    const auto addFolders = [&](FatImageBuilder& builder) {
        FatEntryOptions folder;
        folder.minClusters = static_cast<uint32_t>(stills / 16 + 1);
        builder.AddFolder("DCIM/100CDPFP", folder);
        builder.AddFolder("PRIVATE/AVCHD/BDMV/STREAM");
    };
    FatImageBuilder shot(FatVolumeOptions::Defaults(FatType::Fat32));
    addFolders(shot);
    for (int n = 1; n <= stills; ++n)
        shot.AddFile(StillPath(n), stillData[StillPath(n)]);
    const FatImage taken = shot.Build();

    // The same stills where the camera put them, then the day's deletions and streams.
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat32));
    addFolders(builder);
    for (int n = 1; n <= stills; ++n) {
        FatEntryOptions placed;
        placed.clusters = taken.Entry(StillPath(n)).clusters;
        builder.AddFile(StillPath(n), stillData[StillPath(n)], placed);
    }
    std::vector<std::vector<uint32_t>> holes;
    for (int n = 2; n <= stills; n += 2) {
        holes.push_back(taken.Entry(StillPath(n)).clusters);
        builder.DeleteEntry(StillPath(n));
    }
    InterleavedCard card{taken, {}, 0};
    const size_t reused = holes.size() - static_cast<size_t>(intactHoles);
    std::vector<uint32_t> streamClusters[2];
    for (size_t h = 0; h < reused; ++h)
        streamClusters[h % 2].insert(streamClusters[h % 2].end(), holes[h].begin(), holes[h].end());
    for (size_t h = reused; h < holes.size(); ++h)
        card.expected[StillPath(static_cast<int>(2 * h + 2))] = stillData[StillPath(static_cast<int>(2 * h + 2))];
    card.overwrittenStills = static_cast<int>(reused);
    for (int s = 0; s < 2; ++s) {
        const std::string path = "PRIVATE/AVCHD/BDMV/STREAM/0000" + std::to_string(s) + ".MTS";
        // The second ends inside its last cluster, whose tail keeps a still's bytes.
        const std::string stream =
            StreamBytes(streamClusters[s].size() * kCluster - (s == 1 ? 100 : 0), seed + 1000 + s);
        FatEntryOptions placed;
        placed.clusters = streamClusters[s];
        builder.AddFile(path, stream, placed);
        card.expected[path] = stream;
    }
    for (int s = 0; s < 2; ++s)
        builder.DeleteEntry("PRIVATE/AVCHD/BDMV/STREAM/0000" + std::to_string(s) + ".MTS");
    for (int n = 1; n <= stills; n += 2)
        card.expected[StillPath(n)] = stillData[StillPath(n)];
    card.image = builder.Build();
    return card;
}

} // namespace TestSupport
