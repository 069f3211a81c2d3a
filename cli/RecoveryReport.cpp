#include "RecoveryReport.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <unistd.h>

#include "FileDigest.h"
#include "HostPathPlan.h"
#include "Kalvory_Recover.h"
#include "TargetList.h"

namespace KalvoryCli {
namespace {

using FSAccessLib::SaveStatus;
using FSAccessLib::SavedEntry;

const char* StatusName(SaveStatus status) {
    switch (status) {
    case SaveStatus::Written: return "written";
    case SaveStatus::AlreadyThere: return "already-there";
    case SaveStatus::OutOfMedia: return "out-of-media";
    case SaveStatus::SkippedPartial: return "skipped-partial";
    case SaveStatus::Failed: return "failed";
    case SaveStatus::NotReached: return "not-reached";
    }
    return "unknown";
}

std::string RelativeTo(const std::string& destination, const std::string& path) {
    if (path.compare(0, destination.size(), destination) == 0 && path.size() > destination.size() &&
        path[destination.size()] == '/')
        return path.substr(destination.size() + 1);
    return path;
}

bool Hashable(const SavedEntry& saved) { return !saved.folder && saved.status == SaveStatus::Written; }

class ReportBuilder {
public:
    ReportBuilder(const ReportRun& run, const Kalvory::KalvoryBase& strategy,
                  const std::function<bool(uint64_t)>& hashed)
        : run_(run), strategy_(strategy), hashed_(hashed), context_(ListContextOf(strategy)) {}

    std::string Json() {
        std::string targets;
        for (const SavedEntry& saved : strategy_.SaveOutcomes())
            targets += (targets.empty() ? "\n    {" : ",\n    {") + Target(saved) + "}";
        for (const std::string& leftOut : LeftOut(strategy_.Root()))
            targets += (targets.empty() ? "\n    {" : ",\n    {") + leftOut + "}";
        std::string json = "{\n  \"format\": " + std::to_string(kJsonFormat) + ",\n";
        json += "  \"tool\": {\"name\": \"kalvory\", \"version\": " + JsonString(run_.version) + "},\n";
        json += "  \"run\": {\"source\": " + JsonString(run_.source) +
                ", \"sourceBytes\": " + std::to_string(run_.sourceBytes) + ", \"mode\": " + JsonString(run_.mode) +
                ", \"destination\": " + JsonString(run_.destination) + ", \"started\": " + JsonString(run_.started) +
                ", \"ended\": " + JsonString(run_.ended) + ", \"result\": " + JsonString(run_.result) +
                ", \"verified\": " + (run_.verify ? "true" : "false") + "},\n";
        json += "  \"counts\": " + Counts() + ",\n";
        json += "  \"targets\": [" + targets + (targets.empty() ? "]\n}\n" : "\n  ]\n}\n");
        return json;
    }

private:
    std::string Target(const SavedEntry& saved) {
        const std::string destination = AAA::ToUtf8(AAA::WString(strategy_.Destination()));
        TargetInfo info = DescribeTarget(*saved.entry, RelativeTo(destination, AAA::ToUtf8(saved.hostPath)), context_);
        info.renamed = saved.renamed;
        info.pathShortened = saved.movedUp;
        info.partial = info.partial || saved.cutAtImageEnd;
        if (saved.status == SaveStatus::Written)
            info.damaged = saved.unreadable; // what the copy itself could not read
        Count(info, saved);
        std::string json = TargetJsonFields(info);
        json += ", \"status\": " + JsonString(StatusName(saved.status));
        json += ", \"written\": " + std::to_string(saved.written);
        const bool hashable = Hashable(saved) && !saved.digest.empty();
        json += ", \"sha256\": " + (hashable ? JsonString(saved.digest) : std::string("null"));
        const std::optional<std::string> readBack = hashable && run_.verify ? Hash(saved) : std::nullopt;
        json += ", \"verified\": " + (readBack ? std::string(*readBack == saved.digest ? "true" : "false") : "null");
        if (readBack && *readBack != saved.digest)
            ++counts_["mismatched"];
        json += ", \"reason\": " + (saved.reason.empty() ? std::string("null") : JsonString(AAA::ToUtf8(saved.reason)));
        return json;
    }

    // The files judged overwritten and not saved, in walk order.
    std::vector<std::string> LeftOut(const FSAccessLib::DirEntry& root) {
        std::vector<std::string> found;
        std::vector<const FSAccessLib::DirEntry*> pending{&root};
        while (!pending.empty()) {
            const FSAccessLib::DirEntry* folder = pending.back();
            pending.pop_back();
            for (auto child = folder->children.rbegin(); child != folder->children.rend(); ++child)
                pending.push_back(&*child);
            if (folder == &root || !folder->overwritten || folder->target)
                continue;
            TargetInfo info = DescribeTarget(*folder, LeftOutPath(*folder), context_);
            info.leftOut = true;
            ++counts_["overwritten"];
            found.push_back(TargetJsonFields(info) +
                            ", \"status\": \"overwritten\", \"written\": 0, \"sha256\": null, \"verified\": null, \"reason\": null");
        }
        return found;
    }

    std::optional<std::string> Hash(const SavedEntry& saved) {
        if (stopped_)
            return std::nullopt;
        const uint64_t before = hashedBytes_;
        auto digest = FileSha256(AAA::ToUtf8(saved.hostPath), [&](uint64_t done) {
            stopped_ = hashed_ && !hashed_(before + done);
            return !stopped_;
        });
        hashedBytes_ = before + saved.written;
        return digest;
    }

    void Count(const TargetInfo& info, const SavedEntry& saved) {
        ++counts_["files"];
        ++counts_[StatusName(saved.status)];
        ++counts_[info.found];
        counts_["renamed"] += info.renamed ? 1 : 0;
        counts_["partial"] += info.partial ? 1 : 0;
        counts_["damaged"] += info.damaged.empty() ? 0 : 1;
        counts_["chainBroken"] += info.chainBroken ? 1 : 0;
        counts_["overwritten"] += info.overwritten ? 1 : 0;
        counts_["repaired"] += info.repaired ? 1 : 0;
    }

    std::string Counts() const {
        std::string json = "{";
        for (const char* key : {"files", "written", "already-there", "failed", "skipped-partial",
                                "out-of-media", "not-reached", "directory", "deleted", "found-folder", "carved",
                                "renamed", "partial", "damaged", "mismatched", "repaired", "chainBroken", "overwritten"}) {
            const auto found = counts_.find(key);
            json += (json.size() > 1 ? ", " : "") + JsonString(key) + ": " +
                    std::to_string(found == counts_.end() ? 0 : found->second);
        }
        return json + "}";
    }

    const ReportRun& run_;
    const Kalvory::KalvoryBase& strategy_;
    const std::function<bool(uint64_t)>& hashed_;
    bool stopped_ = false;
    ListContext context_;
    std::map<std::string, int> counts_;
    uint64_t hashedBytes_ = 0;
};

} // namespace

std::string RecoveryReportJson(const ReportRun& run, const Kalvory::KalvoryBase& strategy,
                               const std::function<bool(uint64_t)>& hashed) {
    return ReportBuilder(run, strategy, hashed).Json();
}

uint64_t ReportHashBytes(const Kalvory::KalvoryBase& strategy) {
    uint64_t bytes = 0;
    for (const SavedEntry& saved : strategy.SaveOutcomes())
        bytes += Hashable(saved) ? saved.written : 0;
    return bytes;
}

std::filesystem::path WriteReport(const std::filesystem::path& wanted, const std::string& json, std::string& error) {
    const AAA::WString name = AAA::FromUtf8(wanted.filename().string());
    for (int number = 1; number < 10000; ++number) {
        const std::filesystem::path path =
            number == 1 ? wanted : wanted.parent_path() / AAA::ToUtf8(FSAccessLib::NumberedName(name, number, false));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            error = path.string() + ": " + std::strerror(errno);
            return {};
        }
        const bool whole = ::write(fd, json.data(), json.size()) == static_cast<ssize_t>(json.size());
        const int writeError = errno;
        ::close(fd);
        if (whole)
            return path;
        ::unlink(path.c_str()); // a report cut short is no report
        error = path.string() + ": " + std::strerror(writeError);
        return {};
    }
    error = wanted.string() + ": " + std::strerror(EEXIST);
    return {};
}

std::string UtcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace KalvoryCli
