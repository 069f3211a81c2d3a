#pragma once
// An E01 (EWF) image read as the card it was taken of: every segment is found
// and opened read-only through libewf, and the stream serves the media's bytes.
#include <memory>

#include "AAA_FileStream.h"

namespace Platform {

// Opens the image whose first segment is `firstSegment`. A missing segment, a
// segment cut short or a file libewf cannot read raise an exception whose
// message names the file. Chunks whose checksum fails read as bad sectors.
std::unique_ptr<Restore::ProgressFileStream> OpenEwfImage(const AAA::WString& firstSegment);

} // namespace Platform
