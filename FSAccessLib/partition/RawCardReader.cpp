#include "RawCardReader.h"

#include <algorithm>

namespace FSAccessLib {

bool RawCardReader::Open() {
    OpenSourceStream();
    sectorSize = 512;
    clusterSize = 512;
    searchStep = 512;
    startOfDataArea = 0;
    totalBytes = static_cast<uint64_t>(std::max<int64_t>(stream->Length(), 0));
    ApplyGeometry();
    return totalBytes > 0;
}

} // namespace FSAccessLib
