#include "AAA_SourceOpener.h"

#include <atomic>

namespace Restore {

std::unique_ptr<ProgressFileStream> OpenPlainSource(const AAA::WString& path) {
    auto source = std::make_unique<ProgressFileStream>(path, AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
    source->EnableReadAhead();
    return source;
}

namespace {

std::atomic<SourceOpener> opener{&OpenPlainSource};

} // namespace

void SetSourceOpener(SourceOpener function) { opener.store(function ? function : &OpenPlainSource); }

std::unique_ptr<ProgressFileStream> OpenSource(const AAA::WString& path) { return opener.load()(path); }

} // namespace Restore
