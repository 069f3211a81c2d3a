#include "RemainingTime.h"

namespace KalvoryCli {

std::string RemainingTimeText(int percent, double elapsedSeconds, const RemainingWords& words) {
    if (percent <= 0 || percent >= 100)
        return {};
    const long long secs = static_cast<long long>(elapsedSeconds / percent * (100 - percent));
    if (secs < 60)
        return words.remaining + " " + std::to_string(secs) + " " + words.seconds;
    return words.remaining + " " + std::to_string(secs / 60) + " " + words.minutes;
}

} // namespace KalvoryCli
