#pragma once
// The remaining-time estimate shown beside a progress percent.
#include <string>

namespace KalvoryCli {

struct RemainingWords {
    std::string remaining = "Remaining";
    std::string minutes = "min";
    std::string seconds = "sec";
};

// Empty while nothing is done yet and once all is done; otherwise "Remaining N sec" below a minute
// and "Remaining N min" (whole minutes) above, extrapolated from the elapsed time.
std::string RemainingTimeText(int percent, double elapsedSeconds, const RemainingWords& words);

} // namespace KalvoryCli
