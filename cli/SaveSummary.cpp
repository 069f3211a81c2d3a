#include "SaveSummary.h"

#include <cstdio>
#include <functional>
#include <vector>

#include "AAA_StringTable.h"
#include "RecoveredFiles.h"
#include "AAA_MessageIds.h"
#include "JobTypes.h"

namespace KalvoryCli {
namespace {

using FSAccessLib::SavedEntry;
using FSAccessLib::SaveStatus;

std::string Text(int id, std::initializer_list<std::string> values) {
    return AAA::FillPlaceholders(AAA::LoadStringUtf8(id), values);
}

std::string Ranges(const std::vector<AAA::ByteRange>& ranges) {
    std::string text;
    char piece[64];
    for (const AAA::ByteRange& range : ranges) {
        std::snprintf(piece, sizeof piece, "%s%llu-%llu", text.empty() ? "" : ", ",
                      static_cast<unsigned long long>(range.start),
                      static_cast<unsigned long long>(range.End() - 1));
        text += piece;
    }
    return text;
}

// A heading line with the count, then one indented line per file.
void Section(std::string& out, const std::vector<const SavedEntry*>& files, const std::string& heading,
             const std::function<std::string(const SavedEntry&)>& line) {
    if (files.empty())
        return;
    out += heading + "\n";
    for (size_t i = 0; i < files.size() && i < kFilesListed; ++i)
        out += "  " + line(*files[i]) + "\n";
    if (files.size() > kFilesListed)
        out += " " + Text(AAA::Msg::AndMore, {std::to_string(files.size() - kFilesListed)}) + "\n";
}

std::vector<const SavedEntry*> Where(const std::vector<SavedEntry>& outcomes,
                                     const std::function<bool(const SavedEntry&)>& test) {
    std::vector<const SavedEntry*> chosen;
    for (const SavedEntry& outcome : outcomes)
        if (test(outcome))
            chosen.push_back(&outcome);
    return chosen;
}

std::string HostPath(const SavedEntry& e) { return AAA::ToUtf8(e.hostPath); }

} // namespace

std::string FormatSaveProblems(const Kalvory::KalvoryBase& strategy, UnreachedFiles unreached) {
    const std::vector<SavedEntry>& outcomes = strategy.SaveOutcomes();
    std::string out;
    const auto damaged = Where(outcomes, [](const SavedEntry& e) { return !e.unreadable.empty(); });
    Section(out, damaged, Text(AAA::Msg::DamagedFiles, {std::to_string(damaged.size())}),
            [](const SavedEntry& e) { return HostPath(e) + ": bytes " + Ranges(e.unreadable); });
    const auto cut = Where(outcomes, [](const SavedEntry& e) {
        return e.cutAtImageEnd && e.status == SaveStatus::Written;
    });
    Section(out, cut, Text(AAA::Msg::CutAtImageEnd, {std::to_string(cut.size())}), [](const SavedEntry& e) {
        return HostPath(e) + " (" + std::to_string(e.written) + " of " + std::to_string(e.length) + " bytes)";
    });
    const auto skipped = Where(outcomes, [](const SavedEntry& e) { return e.status == SaveStatus::SkippedPartial; });
    Section(out, skipped, Text(AAA::Msg::SkippedAtImageEnd, {std::to_string(skipped.size())}), HostPath);
    const auto failed = Where(outcomes, [](const SavedEntry& e) { return e.status == SaveStatus::Failed; });
    Section(out, failed, Text(AAA::Msg::FailedFiles, {std::to_string(failed.size())}),
            [](const SavedEntry& e) { return AAA::ToUtf8(e.reason); });
    const auto missing = Where(outcomes, [&](const SavedEntry& e) {
        return e.status == SaveStatus::NotReached && unreached == UnreachedFiles::List;
    });
    uint64_t missingBytes = 0;
    for (const SavedEntry* e : missing)
        missingBytes += e->length;
    Section(out, missing, Text(AAA::Msg::NotSavedAfterStop, {std::to_string(missing.size()), HumanBytes(missingBytes)}), HostPath);
    if (strategy.MovedUpCount() > 0)
        out += Text(AAA::Msg::MovedUp, {std::to_string(strategy.MovedUpCount())}) + "\n";
    if (strategy.UnreadableBytes() > 0)
        out += Text(AAA::Msg::UnreadableBytes, {HumanBytes(strategy.UnreadableBytes())}) + "\n";
    return out;
}

std::string FormatSaveSummary(const Kalvory::KalvoryBase& strategy, const SaveFacts& facts) {
    const auto line = [](int id, std::initializer_list<std::string> values) { return Text(id, values) + "\n"; };
    const std::string saved = std::to_string(facts.files);
    const bool cancelled = facts.result == Restore::Cancelled;
    if (facts.result != Restore::TargetsFound)
        return line(cancelled ? AAA::Msg::CancelledKept : AAA::Msg::SavedBeforeStop,
                    {saved, HumanBytes(facts.bytes), facts.where}) +
               FormatSaveProblems(strategy, cancelled ? UnreachedFiles::Omit : UnreachedFiles::List);
    std::string out = line(AAA::Msg::Recovered, {saved, HumanBytes(facts.bytes), facts.where});
    const auto count = [&](int id, int value) {
        if (value > 0)
            out += line(id, {std::to_string(value)});
    };
    if (strategy.FoundFolderFiles() > 0 || strategy.CarvedFiles() > 0)
        out += line(AAA::Msg::FoundFolderShare,
                    {std::to_string(strategy.FoundFolderFiles()), std::to_string(strategy.CarvedFiles())});
    count(AAA::Msg::PartialFiles, strategy.PartialFiles());
    count(facts.overwritten == Kalvory::OverwrittenFiles::Write ? AAA::Msg::OverwrittenSaved : AAA::Msg::OverwrittenNotSaved,
          strategy.OverwrittenCount());
    count(AAA::Msg::UnplacedPictures, strategy.UnplacedPictures());
    count(AAA::Msg::RenamedFiles, strategy.RenamedCount());
    count(AAA::Msg::FoldersPastEnd, strategy.FoldersPastEnd());
    return out + FormatSaveProblems(strategy, UnreachedFiles::List);
}

} // namespace KalvoryCli
