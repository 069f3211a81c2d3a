// kalvory: recovers a camcorder card's videos and photos from the command line.
#include <CLI/CLI.hpp>

#include <csignal>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <algorithm>
#include <optional>
#include <string>

#include "AAA_DebugLog.h"
#include "AAA_StringTable.h"
#include "DestinationCheck.h"
#include "ImageCommand.h"
#include "JobRunner.h"
#include "KalvoryVersion.h"
#include "Kalvory_Recover.h"
#include "PlatformSources.h"
#include "RecoveredFiles.h"
#include "FileDigest.h"
#include "RecoveryReport.h"
#include "Restore_Thread.h"
#include "SaveSummary.h"
#include "SourceLayoutText.h"
#include "SourceMap.h"
#include "TargetList.h"
#include "AAA_MessageIds.h"

namespace {

using namespace KalvoryCli;

enum ExitCode : int { kRecovered = 0, kNothing = 1, kUsage = 2, kFailed = 3, kCancelled = 130 };

const std::map<std::string, Restore::StrategyType> kModes = {
    {"dir-and-sector", Restore::StrategyType::DirAndSector},
    {"sector", Restore::StrategyType::Sector},
    {"directory", Restore::StrategyType::Directory},
};

struct Options {
    int logLevel = 0;
    std::string logFile;
    std::string mode = "dir-and-sector";
    std::string source;
    std::string destination;
    bool json = false;
    bool partial = false;
    bool keepOverwritten = false;
    bool check = false;
    bool verify = false;
    std::string progress = "auto"; // auto (bar on a terminal, else lines), bar, lines, json
    std::string report;            // empty: kalvory-report.json in DEST
    uint32_t partition = 0;        // 0: the first FAT or exFAT partition of a whole card
    std::string map;               // an image's mapfile: its bad ranges are unreadable sectors
    ImageRequest image;
};

// Set once the command line is read: how every progress view shows itself.
ProgressStyle progressStyle = ProgressStyle::Lines;

ProgressStyle StyleOf(const std::string& progress) {
    if (progress == "json")
        return ProgressStyle::Json;
    if (progress == "bar")
        return ProgressStyle::Bar;
    if (progress == "lines")
        return ProgressStyle::Lines;
    return StyleFor(stderr);
}

std::string Text(int id) { return AAA::LoadStringUtf8(id); }

// One line per failure: the message, then what failed and why.
void PrintError(const std::string& text) { std::fprintf(stderr, "kalvory: %s\n", OneLine(text).c_str()); }

RemainingWords WordsFor(Operation operation) {
    const int base = operation == Operation::Verify ? AAA::Msg::VerifyRemaining : AAA::Msg::SaveRemaining;
    return {Text(base), Text(base + 1), Text(base + 2)};
}

int ExitForFailure(const Restore::RestoreMain& job) {
    if (job.ResultState() == Restore::Cancelled) {
        PrintError(Text(AAA::Msg::Cancelled));
        return kCancelled;
    }
    PrintError(AAA::ToUtf8(job.ErrorText()));
    return kFailed;
}

// Builds the job for the source; null (after printing why) when it cannot be made.
std::unique_ptr<Restore::RestoreMain> MakeJob(const Options& options) {
    const auto type = static_cast<int32_t>(kModes.at(options.mode));
    Kalvory::VolumeChoice choice;
    choice.partition = options.partition;
    // The scanning modes still have something to do on a card without any volume.
    choice.raw = options.mode == "directory" ? Kalvory::RawScan::Refuse : Kalvory::RawScan::WholeCard;
    auto job = std::make_unique<Restore::RestoreMain>(type, AAA::FromUtf8(options.source), choice);
    if (job->ResultState() != Restore::TargetsFound) {
        PrintError(AAA::ToUtf8(job->ErrorText()));
        return nullptr;
    }
    if (!options.map.empty()) {
        if (const std::string error = ApplySourceMap(*job->Strategy(), options.map, options.source); !error.empty()) {
            PrintError(error);
            return nullptr;
        }
    }
    job->Strategy()->SetDigests(Sha256Digests());
    job->Strategy()->SetOverwrittenFiles(options.keepOverwritten ? Kalvory::OverwrittenFiles::Write
                                                                 : Kalvory::OverwrittenFiles::Skip);
    return job;
}

// Of one recovery's bar: the search's part when it scans the card, and when it reads directories only.
constexpr int kScanSearchShare = 50;
constexpr int kDirectorySearchShare = 2;

// Where the save's part of the bar starts: the card the search read against
// the bytes the save copies, never before the search's own part ended.
int SaveStart(Kalvory::KalvoryBase& strategy, int searchShare, const std::string& mode) {
    if (mode == "directory")
        return searchShare;
    FSAccessLib::CommandTotalFileLength copied;
    strategy.Root().Apply(copied);
    const double card = static_cast<double>(strategy.Reader().totalBytes);
    const double share = card + static_cast<double>(copied.total) > 0 ? 100.0 * card / (card + static_cast<double>(copied.total)) : 0;
    return std::clamp(static_cast<int>(share), searchShare, 99);
}

int32_t Run(Restore::RestoreMain& job, Operation operation) {
    ProgressView view(stderr, progressStyle, Text(operation == Operation::Verify ? AAA::Msg::Verifying : AAA::Msg::Saving), WordsFor(operation),
                      operation == Operation::Verify ? "verify" : "save");
    return RunOperation(job, operation, view);
}

std::string VersionText() {
    return std::string(KALVORY_VERSION) + (*KALVORY_COMMIT ? std::string(" (commit ") + KALVORY_COMMIT + ")" : "");
}

// Writes the report, with the digests taken as the files were written; with
// --verify, reads every written file back first and compares. Prints where.
// A save refused before it began leaves nothing, no report either; after a
// cancel (or a second Ctrl-C while reading back) nothing is read back.
void WriteRecoveryReport(const Options& options, const Restore::RestoreMain& job, ReportRun run) {
    const Kalvory::KalvoryBase& strategy = *job.Strategy();
    if (strategy.SaveOutcomes().empty())
        return;
    const bool hash = options.verify && run.result != "cancelled";
    run.verify = hash;
    InterruptRequested.store(false);
    run.version = VersionText();
    run.sourceBytes = strategy.Reader().totalBytes;
    run.mode = options.mode;
    run.destination = AAA::ToUtf8(job.destinationPath);
    const uint64_t total = std::max<uint64_t>(ReportHashBytes(strategy), 1);
    std::optional<ProgressView> view;
    if (hash)
        view.emplace(stderr, progressStyle, Text(AAA::Msg::Checking), WordsFor(Operation::Save), "check");
    const std::string json = RecoveryReportJson(run, strategy, [&](uint64_t done) {
        if (!hash || InterruptRequested.load())
            return false;
        view->Update(static_cast<int>(done * 100 / total), done, -1);
        return true;
    });
    if (hash) {
        view->Update(100, total == 1 ? 0 : total, -1);
        view->Finish();
    }
    const std::filesystem::path wanted = options.report.empty()
                                             ? std::filesystem::path(run.destination) / AAA::ToUtf8(FSAccessLib::kReportFileName)
                                             : std::filesystem::path(options.report);
    std::string error;
    const std::filesystem::path written = WriteReport(wanted, json, error);
    if (written.empty())
        PrintError(AAA::FillPlaceholders(Text(AAA::Msg::ReportNotWritten), {error}));
    else
        std::printf("%s\n", AAA::FillPlaceholders(Text(AAA::Msg::ReportWritten), {written.string()}).c_str());
}

int RunList(const Options& options) {
    auto job = MakeJob(options);
    if (!job)
        return kFailed;
    const int32_t verified = Run(*job, Operation::Verify);
    if (verified != Restore::TargetsFound && verified != Restore::NoTargets)
        return ExitForFailure(*job);
    if (options.check && verified == Restore::TargetsFound && job->ReadTargetData() != Restore::TargetsFound)
        return ExitForFailure(*job);
    const Kalvory::KalvoryBase& strategy = *job->Strategy();
    const std::vector<TargetInfo> targets = CollectTargets(job->Strategy()->Root(), ListContextOf(strategy));
    if (strategy.UnreadableBytes() > 0)
        PrintError(AAA::FillPlaceholders(Text(AAA::Msg::UnreadableBytes), {HumanBytes(strategy.UnreadableBytes())}));
    if (strategy.FoldersPastEnd() > 0)
        PrintError(AAA::FillPlaceholders(Text(AAA::Msg::FoldersPastEnd), {std::to_string(strategy.FoldersPastEnd())}));
    const Kalvory::SourceLayout& layout = strategy.Layout();
    const std::string out = options.json ? FormatTargetsJson(options.source, targets, LayoutJsonMember(layout))
                                         : FormatLayoutText(layout) + FormatTargetsText(targets);
    if (const std::string notice = LayoutNotice(layout, options.source); !notice.empty() && !options.json)
        PrintError(notice);
    if (const std::string notice = GapNotice(*job->Strategy()); !notice.empty() && !options.json)
        PrintError(notice);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return verified == 0 ? kRecovered : kNothing;
}

int CheckAndPrepareDestination(const Options& options) {
    switch (CheckDestination(options.source, options.destination)) {
    case DestinationVerdict::OnSourceDevice:
        PrintError(Text(AAA::Msg::DestinationIsSource));
        return kUsage;
    case DestinationVerdict::HoldsPrivateFolder:
        PrintError(Text(AAA::Msg::DestinationNotEmpty));
        return kUsage;
    case DestinationVerdict::Accepted:
        break;
    }
    return kRecovered;
}

int RunRecover(const Options& options) {
    ReportRun run;
    run.source = options.source;
    run.started = UtcNow();
    if (const int refused = CheckAndPrepareDestination(options); refused != kRecovered)
        return refused;
    auto job = MakeJob(options);
    if (!job)
        return kFailed;
    if (const std::string error = PrepareDestination(options.destination); !error.empty()) {
        PrintError(AAA::FillPlaceholders(Text(AAA::Msg::DestinationNotCreated), {options.destination + ": " + error}));
        return kFailed;
    }
    job->SetDestination(AAA::FromUtf8(options.destination));
    if (job->ResultState() != Restore::TargetsFound)
        return ExitForFailure(*job);
    job->Strategy()->SetPartialFiles(options.partial ? FSAccessLib::PartialFiles::Write : FSAccessLib::PartialFiles::Skip);
    // One bar for the whole recovery: the search's share is the card it
    // reads, the save's the bytes it copies (known once the search is done).
    ProgressView view(stderr, progressStyle, Text(AAA::Msg::Verifying), WordsFor(Operation::Verify), "verify");
    const int searchShare = options.mode == "directory" ? kDirectorySearchShare : kScanSearchShare;
    view.NextPart(Text(AAA::Msg::Verifying), "verify", 0, searchShare);
    const int32_t verified = RunOperation(*job, Operation::Verify, view, ViewEnd::Continue);
    const std::string notice = LayoutNotice(job->Strategy()->Layout(), options.source);
    if (!notice.empty() || verified != Restore::TargetsFound)
        view.Finish(); // a line of its own follows
    if (!notice.empty())
        std::printf("%s\n", notice.c_str());
    if (const std::string notice = GapNotice(*job->Strategy()); !notice.empty())
        std::printf("%s\n", notice.c_str());
    if (verified == Restore::NoTargets) {
        std::printf("%s\n", AAA::FillPlaceholders(Text(AAA::Msg::NothingFound), {options.source}).c_str());
        return kNothing;
    }
    if (verified != Restore::TargetsFound)
        return ExitForFailure(*job);
    const std::string where = AAA::ToUtf8(job->destinationPath);
    RecoveredFiles recovered(options.destination);
    view.NextPart(Text(AAA::Msg::Saving), "save", SaveStart(*job->Strategy(), searchShare, options.mode), 100);
    const int32_t saved = RunOperation(*job, Operation::Save, view);
    recovered.Measure();
    const Kalvory::KalvoryBase& strategy = *job->Strategy();
    SaveFacts facts{recovered.Files(), recovered.Bytes(), where, saved,
                    options.keepOverwritten ? Kalvory::OverwrittenFiles::Write : Kalvory::OverwrittenFiles::Skip};
    run.ended = UtcNow();
    if (saved != Restore::TargetsFound) {
        const int exitCode = saved == Restore::Cancelled ? kCancelled : ExitForFailure(*job);
        std::fputs(FormatSaveSummary(strategy, facts).c_str(), stdout);
        run.result = saved == Restore::Cancelled ? "cancelled" : "failed";
        WriteRecoveryReport(options, *job, run);
        return exitCode;
    }
    std::fputs(FormatSaveSummary(strategy, facts).c_str(), stdout);
    run.result = recovered.Files() > 0 ? "recovered" : "nothing";
    WriteRecoveryReport(options, *job, run);
    return recovered.Files() > 0 ? kRecovered : kNothing;
}

void ConfigureLog(const Options& options) {
    AAA::LogThreshold = options.logLevel;
    AAA::SetLogSink(stderr); // standard output carries results
    if (!options.logFile.empty() && !AAA::SetLogFile(options.logFile))
        PrintError("cannot open log file " + options.logFile);
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_MESSAGES, ""); // the system's reasons in the user's language
    Platform::InstallSourceOpener();
    Options options;
    CLI::App app{"Kalvory: recovers a camcorder card's videos and photos (FAT12/16/32, exFAT), read-only."};
    app.set_version_flag("--version", "kalvory " + VersionText());
    app.require_subcommand(1);
    app.fallthrough(); // the global options may follow the subcommand too
    app.add_option("-l,--log-level", options.logLevel, "Diagnostic log threshold (3 errors, 7 results, 8 everything)");
    app.add_option("--log-file", options.logFile, "Write the diagnostic log to this file instead of standard error");
    app.add_option("--progress", options.progress,
                   "auto: a bar on a terminal, plain lines otherwise; json: one JSON object per line on standard error")
        ->check(CLI::IsMember({"auto", "bar", "lines", "json"}))
        ->capture_default_str();

    const auto modeOption = [&](CLI::App* command) {
        command->add_option("--partition", options.partition,
                            "On a whole card, the partition to read (as `list` numbers them; default: the first "
                            "FAT or exFAT one)");
        command
            ->add_option("--mode", options.mode,
                         "dir-and-sector: the directories, then a scan of the sectors they leave; "
                         "sector: the scan alone (after a format); directory: the directories alone")
            ->check(CLI::IsMember({"dir-and-sector", "sector", "directory"}))
            ->capture_default_str();
    };
    CLI::App* recover = app.add_subcommand("recover", "Recover the card's files into DEST");
    modeOption(recover);
    recover->add_option("SOURCE", options.source, "Block device or image file of the card or of its volume")->required();
    recover->add_option("DEST", options.destination, "Folder that receives the files (created if missing)")->required();
    recover->add_option("--report", options.report,
                        "Write the recovery report to this file (default: kalvory-report.json in DEST); never overwritten");
    const auto mapOption = [&](CLI::App* command) {
        command->add_option("--map", options.map,
                            "SOURCE is an image made by 'kalvory image': the ranges this map marks bad are "
                            "taken as unreadable sectors");
    };
    mapOption(recover);
    recover->add_flag("--verify", options.verify,
                      "Read every written file back and compare it with the digest taken as it was written");
    recover->add_flag("--partial", options.partial,
                      "Save files that cross the end of a short image up to the end (skipped and listed otherwise)");

    const auto keepOption = [&](CLI::App* command) {
        command->add_flag("--keep-overwritten", options.keepOverwritten,
                          "Save deleted files whose data is now other files' as well (flagged overwritten; "
                          "left out and listed otherwise)");
    };
    keepOption(recover);
    CLI::App* list = app.add_subcommand("list", "List what could be recovered, without copying");
    modeOption(list);
    keepOption(list);
    list->add_flag("--json", options.json, "Print the list as JSON");
    list->add_flag("--check", options.check,
                   "Read every listed file's data too, so that damaged (unreadable) parts are all listed");
    list->add_option("SOURCE", options.source, "Block device or image file of the card or of its volume")->required();
    mapOption(list);

    CLI::App* image = app.add_subcommand("image", "Copy a failing card to an image once, keeping a ddrescue map");
    image->add_option("SOURCE", options.image.source, "Block device or file to image (only read)")->required();
    image->add_option("IMAGE", options.image.image, "Image file to make (or to go on with, given its map)")->required();
    image->add_option("--map", options.image.map,
                      "GNU ddrescue mapfile of what was read (default: IMAGE.map); run again with it to go on");
    image->add_option("--retries", options.image.retries, "Passes over the bad sectors after the scraping")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kUsage;
    }
    ConfigureLog(options);
    progressStyle = StyleOf(options.progress);
    InstallInterruptHandler();
    // A file-size limit then fails the write (and the save says which file)
    // instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    if (image->parsed()) {
        options.image.style = progressStyle;
        return RunImage(options.image);
    }
    return recover->parsed() ? RunRecover(options) : RunList(options);
}
