#include "AVCHD_Duration.h"

#include "AVCHD_Files.h"
#include "AVCHD_Fragments.h"

namespace Kalvory {
namespace {

constexpr uint8_t kSyncByte = 0x47;

// The arrival time of packet `index`, when it reads as a source packet.
std::optional<uint32_t> AtsOf(AAA::Stream& file, uint64_t index) {
    uint8_t head[5];
    file.Seek(static_cast<int64_t>(index * kSourcePacketBytes), AAA::SeekBegin);
    if (file.Read(head, sizeof head) != sizeof head || head[4] != kSyncByte)
        return std::nullopt;
    return PacketAts(head);
}

} // namespace

std::optional<double> StreamSeconds(AAA::Stream& file, uint64_t length, uint64_t stepPackets) {
    const uint64_t packets = length / kSourcePacketBytes;
    if (packets < 2 || stepPackets == 0)
        return std::nullopt;
    uint64_t ticks = 0;
    int samples = 0;
    std::optional<uint32_t> last;
    for (uint64_t index = 0;; index += stepPackets) {
        if (index >= packets - 1)
            index = packets - 1;
        if (const std::optional<uint32_t> ats = AtsOf(file, index)) {
            if (last)
                ticks += (*ats - *last) & kAtsMask;
            last = ats;
            ++samples;
        }
        if (index == packets - 1)
            break;
    }
    if (samples < 2)
        return std::nullopt;
    return static_cast<double>(ticks) / kAtsTicksPerSecond;
}

} // namespace Kalvory
