#pragma once
#include "AAA_WideString.h"

namespace Restore {

// The absolute, normalised form of `path` (it need not exist), without trailing
// separators. Raises PathTooLongException when the result would not fit a path.
AAA::WString MakeAbsolutePath(const AAA::WString& path);

} // namespace Restore
