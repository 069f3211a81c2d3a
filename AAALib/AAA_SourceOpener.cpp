#include "AAA_SourceOpener.h"

#include <atomic>

namespace Restore {
namespace {

std::unique_ptr<ProgressFileStream> OpenPlainSource(const AAA::WString& path) {
    return std::make_unique<ProgressFileStream>(path, AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
}

std::atomic<SourceOpener> opener{&OpenPlainSource};

} // namespace

void SetSourceOpener(SourceOpener function) { opener.store(function ? function : &OpenPlainSource); }

std::unique_ptr<ProgressFileStream> OpenSource(const AAA::WString& path) { return opener.load()(path); }

} // namespace Restore
