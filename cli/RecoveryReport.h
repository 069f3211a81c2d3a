#pragma once
// The recovery report: what came back, how it was found, what was written
// and whether it is whole, so that a good result can be told from a doubtful
// one. JSON with a format version; the listing shares its target fields.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace Kalvory {
class KalvoryBase;
}

namespace KalvoryCli {

struct ReportRun {
    std::string version;
    std::string source;
    uint64_t sourceBytes = 0;
    std::string mode;
    std::string destination;
    std::string started; // UTC, ISO 8601
    std::string ended;
    std::string result;  // "recovered", "nothing", "cancelled" or "failed"
    bool verify = false; // written files are read back and compared with their digests
};

// Every target file, with what the save did with it and the SHA-256 of what
// it wrote, taken as it was written. With run.verify each written file is
// read back and compared ("verified"); `hashed` gets the bytes read back so
// far and answers whether to go on; once it says no, the checks left are null.
std::string RecoveryReportJson(const ReportRun& run, const Kalvory::KalvoryBase& strategy,
                               const std::function<bool(uint64_t)>& hashed = {});
// The bytes the report reads back when it verifies.
uint64_t ReportHashBytes(const Kalvory::KalvoryBase& strategy);

// Writes `json` to `wanted`, or when that exists to the first free
// "NAME (2).EXT", "NAME (3).EXT", ...: a report is never overwritten. Returns
// the path written; empty, with the reason in `error`, when none could be.
std::filesystem::path WriteReport(const std::filesystem::path& wanted, const std::string& json, std::string& error);

// Now, UTC, as "2026-12-08T09:07:24Z".
std::string UtcNow();

} // namespace KalvoryCli
