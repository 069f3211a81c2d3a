#pragma once
// Every card source is opened through here, read-only. Plain files and block
// devices are the default; a front end may serve other sources (an E01 image
// through its library) by installing its own opener.
#include <memory>

#include "AAA_FileStream.h"

namespace Restore {

using SourceOpener = std::unique_ptr<ProgressFileStream> (*)(const AAA::WString& path);

// A plain file or block device, read ahead on a thread of its own once read sequentially.
std::unique_ptr<ProgressFileStream> OpenPlainSource(const AAA::WString& path);

// Null restores the default.
void SetSourceOpener(SourceOpener opener);
std::unique_ptr<ProgressFileStream> OpenSource(const AAA::WString& path);

} // namespace Restore
