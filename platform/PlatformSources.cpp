#include "PlatformSources.h"

#include "AAA_SourceOpener.h"
#include "EwfSegments.h"
#include "EwfStream.h"

namespace Platform {
namespace {

std::unique_ptr<Restore::ProgressFileStream> OpenPlatformSource(const AAA::WString& path) {
    if (IsE01Path(AAA::ToUtf8(path)))
        return OpenEwfImage(path);
    return Restore::OpenPlainSource(path);
}

} // namespace

void InstallSourceOpener() { Restore::SetSourceOpener(&OpenPlatformSource); }

} // namespace Platform
