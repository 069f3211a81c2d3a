#include "FuzzSource.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "AAA_Exceptions.h"
#include "AAA_Progress.h"
#include "Kalvory_Recover.h"

namespace KalvoryFuzz {

FuzzSource::FuzzSource() : fd_(::memfd_create("kalvory-fuzz", 0)) {
    if (fd_ < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    path_ = AAA::FromUtf8("/proc/self/fd/" + std::to_string(fd_));
}

FuzzSource::~FuzzSource() { ::close(fd_); }

const AAA::WString& FuzzSource::Load(const uint8_t* data, size_t size) {
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) {
        std::perror("memfd write");
        std::abort();
    }
    return path_;
}

FuzzSource& SharedSource() {
    static FuzzSource source;
    return source;
}

void WalkVolume(FSAccessLib::FSAccessBase& reader) {
    try {
        if (!reader.Open())
            return;
        reader.ReadAllocationTable();
        reader.ReadRootDirectory();
        FSAccessLib::DirEntry root;
        reader.BuildTree(root);
    } catch (const AAA::ExceptionBase&) {
    }
    Restore::SetProgressTotal(0);
}

void VerifyCard(const AAA::WString& path) {
    try {
        auto strategy = Kalvory::MakeStrategy(Restore::StrategyType::DirAndSector, path);
        strategy->Verify();
    } catch (const AAA::ExceptionBase&) {
    }
    Restore::SetProgressTotal(0);
}

} // namespace KalvoryFuzz
