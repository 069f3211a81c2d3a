#pragma once
// `kalvory image`: copies a failing card to an image file once, keeping a
// GNU ddrescue mapfile of what could and could not be read.
#include <string>

#include "ProgressView.h"

namespace KalvoryCli {

struct ImageRequest {
    std::string source;
    std::string image;
    std::string map; // empty: IMAGE.map
    int retries = 0;
    ProgressStyle style = ProgressStyle::Lines;
};

// The map an image keeps when none is named.
std::string MapPathFor(const ImageRequest& request);

// 0 imaged (bad sectors or not), 2 refused before reading, 3 failed or the
// card went away, 130 interrupted; the map is current in the last three.
int RunImage(const ImageRequest& request);

} // namespace KalvoryCli
