#pragma once
// The BMP icon an SD-Video clip keeps beside its AVI.
#include <cstdint>

#include "AAA_Stream.h"

namespace Kalvory {

// The file size a bitmap's header declares; 0 unless the 10 header bytes can
// be read, begin with "BM" and the two reserved words are 0.
uint64_t BitmapLength(AAA::Stream& stream, uint64_t start);

} // namespace Kalvory
