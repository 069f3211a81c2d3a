#include "SavedRun.h"

#include <filesystem>

#include "AAA_StringTable.h"
#include "HostPathPlan.h"
#include "Kalvory_Recover.h"
#include "RecoveryReport.h"
#include "SaveSummary.h"
#include "AAA_MessageIds.h"

namespace {

using FSAccessLib::SaveStatus;
using FSAccessLib::SavedEntry;

KalvoryCli::SaveFacts FactsOf(const Restore::RestoreMain& job) {
    KalvoryCli::SaveFacts facts;
    for (const SavedEntry& saved : job.Strategy()->SaveOutcomes())
        if (!saved.folder && saved.status == SaveStatus::Written) {
            ++facts.files;
            facts.bytes += saved.written;
        }
    facts.where = AAA::ToUtf8(job.destinationPath);
    facts.result = job.ResultState();
    return facts;
}

const char* ResultName(const KalvoryCli::SaveFacts& facts) {
    if (facts.result == Restore::Cancelled)
        return "cancelled";
    if (facts.result == Restore::Failed)
        return "failed";
    return facts.files > 0 ? "recovered" : "nothing";
}

} // namespace

std::optional<SavedRun> TakeSavedRun(const Restore::RestoreMain& job, const std::string& started) {
    const Kalvory::KalvoryBase* strategy = job.Strategy();
    if (!strategy || strategy->SaveOutcomes().empty())
        return std::nullopt;
    const KalvoryCli::SaveFacts facts = FactsOf(job);
    SavedRun run;
    run.destination = QString::fromStdString(facts.where);
    run.summary = QString::fromStdString(KalvoryCli::FormatSaveSummary(*strategy, facts)).trimmed();
    KalvoryCli::ReportRun report;
    report.version = KALVORY_WIZARD_VERSION;
    report.source = AAA::ToUtf8(job.sourcePath);
    report.sourceBytes = strategy->Reader().totalBytes;
    report.mode = "dir-and-sector";
    report.destination = facts.where;
    report.started = started;
    report.ended = KalvoryCli::UtcNow();
    report.result = ResultName(facts);
    // Reading every saved file back to hash it would hold the interface for
    // as long as the save took: the wizard's report leaves the digests out.
    const std::string json = KalvoryCli::RecoveryReportJson(report, *strategy, [](uint64_t) { return false; });
    std::string error;
    const std::filesystem::path written = KalvoryCli::WriteReport(
        std::filesystem::path(facts.where) / AAA::ToUtf8(FSAccessLib::kReportFileName), json, error);
    if (written.empty()) {
        run.reportText = QString::fromStdString(AAA::FillPlaceholders(AAA::LoadStringUtf8(AAA::Msg::ReportNotWritten), {error}));
    } else {
        run.reportPath = QString::fromStdString(written.string());
        run.reportText = QString::fromStdString(json);
    }
    return run;
}
