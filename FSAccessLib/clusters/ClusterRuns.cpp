#include "ClusterRuns.h"

#include <algorithm>

#include "ChainWalk.h"

namespace FSAccessLib {

ClusterChain FollowClusterChain(const FSAccessBase& reader, const ChainView& view, uint32_t first, uint64_t maxBytes) {
    ClusterChain folder;
    const auto isCluster = [&](uint32_t c) { return 2 <= c && c < view.clusterLimit && c < view.entryCount; };
    if (!isCluster(first)) {
        folder.brokenAtFirstStep = true;
        return folder;
    }
    const uint32_t second = view.entryAt(view.table, first);
    if (!isCluster(second) && !view.isEndOfChain(view.table, second)) {
        folder.brokenAtFirstStep = true;
        return folder;
    }
    uint64_t bytes = 0;
    for (const ClusterRun& run : WalkClusterChain(view, first).runs) {
        if (bytes >= maxBytes)
            break;
        const uint64_t take =
            std::min<uint64_t>((uint64_t{run.last} - run.first + 1) * reader.clusterSize, maxBytes - bytes);
        folder.runs.push_back({reader.ClusterToOffset(run.first), take});
        bytes += take;
    }
    return folder;
}

std::vector<uint8_t> ReadRuns(AAA::Stream& source, const std::vector<ByteRun>& runs) {
    uint64_t total = 0;
    for (const ByteRun& run : runs)
        total += run.length;
    std::vector<uint8_t> bytes(total);
    size_t filled = 0;
    for (const ByteRun& run : runs) {
        source.Seek(static_cast<int64_t>(run.start), AAA::SeekBegin);
        const auto got = source.Read(bytes.data() + filled, static_cast<uint32_t>(run.length));
        filled += got;
        if (got < run.length)
            break;
    }
    bytes.resize(filled);
    return bytes;
}

std::vector<uint8_t> ReadFolderRuns(FSAccessBase& reader, const std::vector<ByteRun>& runs, const AAA::WString& name) {
    std::vector<uint8_t> bytes = ReadRuns(*reader.stream, runs);
    uint64_t wanted = 0;
    for (const ByteRun& run : runs)
        wanted += run.length;
    if (bytes.size() < wanted)
        reader.NoteFolderPastEnd(name, runs.front().start,
                                 bytes.empty() ? FSAccessBase::FolderPart::NoneRead : FSAccessBase::FolderPart::ReadUpToEnd);
    return bytes;
}

} // namespace FSAccessLib
