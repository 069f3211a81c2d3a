#include "ImageCommand.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "AAA_Exceptions.h"
#include "AAA_MessageIds.h"
#include "AAA_StringTable.h"
#include "JobRunner.h"
#include "RecoveredFiles.h"
#include "Rescue_Imager.h"
#include "Rescue_MapFile.h"
#include "TargetList.h"

namespace KalvoryCli {

namespace {

namespace fs = std::filesystem;

enum ExitCode : int { kImaged = 0, kRefused = 2, kFailed = 3, kInterrupted = 130 };

std::string Text(int id, std::initializer_list<std::string> values = {}) {
    return AAA::FillPlaceholders(AAA::LoadStringUtf8(id), values);
}
std::string Reason(int error) { return AAA::ToUtf8(AAA::SystemReason(error)); }
void PrintError(const std::string& text) { std::fprintf(stderr, "kalvory: %s\n", OneLine(text).c_str()); }

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool SamePath(const std::string& first, const std::string& second) {
    std::error_code firstError, secondError;
    const fs::path a = fs::weakly_canonical(first, firstError);
    const fs::path b = fs::weakly_canonical(second, secondError);
    return !firstError && !secondError && a == b;
}

std::string CommandLine(const ImageRequest& request, const std::string& mapPath) {
    return "kalvory image " + request.source + " " + request.image + " --map " + mapPath +
           (request.retries > 0 ? " --retries " + std::to_string(request.retries) : "");
}

// A fresh map for a new image, or the map of the image being resumed; an
// image without its map, or a map without its image, is refused.
std::optional<Rescue::Map> StartingMap(const ImageRequest& request, const std::string& mapPath, uint64_t size) {
    const bool image = Exists(request.image);
    const bool map = Exists(mapPath);
    if (image != map) {
        PrintError(image ? Text(AAA::Msg::ImageExists, {request.image}) : Text(AAA::Msg::MapWithoutImage, {mapPath, request.image}));
        return std::nullopt;
    }
    if (!image)
        return Rescue::Map(size);
    std::string error;
    std::optional<Rescue::Map> loaded = Rescue::LoadMapFile(mapPath, error);
    if (!loaded)
        PrintError(error);
    else if (loaded->Size() != size)
        PrintError(Text(AAA::Msg::MapSizeDiffers, {mapPath, std::to_string(loaded->Size()), request.source, std::to_string(size)}));
    else
        return loaded;
    return std::nullopt;
}

class ImageProgress {
public:
    explicit ImageProgress(ProgressStyle style)
        : view_(stderr, style, Text(AAA::Msg::Imaging), {Text(1052), Text(1053), Text(1054)}, "image") {}

    void Show(const Rescue::ImagerStatus& status) {
        const double seconds = std::max(status.elapsedSeconds, 0.001);
        const auto rate = static_cast<uint64_t>(static_cast<double>(status.readThisRun) / seconds);
        const uint64_t run = status.readThisRun + status.pending;
        const int runPercent = run == 0 ? 100 : static_cast<int>(status.readThisRun * 100 / run);
        std::string detail = Text(AAA::Msg::ImagingRate, {HumanBytes(rate), HumanBytes(status.bad)});
        if (const std::string remaining = RemainingTimeText(runPercent, seconds, words_); !remaining.empty())
            detail += "  " + remaining;
        view_.SetDetail(detail);
        const int percent = status.size == 0 ? 100 : static_cast<int>((status.size - status.pending) * 100 / status.size);
        view_.Update(percent, status.finished, -1);
    }
    void Finish() { view_.Finish(); }

private:
    ProgressView view_;
    RemainingWords words_{Text(1052), Text(1053), Text(1054)};
};

int Report(const ImageRequest& request, const std::string& mapPath, const Rescue::Imager& imager,
           Rescue::ImageEnd end) {
    const Rescue::ImagerStatus status = imager.Status();
    switch (end) {
    case Rescue::ImageEnd::Finished:
        std::printf("%s\n", Text(AAA::Msg::ImagingDone, {request.image, HumanBytes(status.finished), HumanBytes(status.size), mapPath}).c_str());
        if (status.bad > 0)
            std::printf("%s\n", Text(AAA::Msg::ImagingBad, {HumanBytes(status.bad)}).c_str());
        return kImaged;
    case Rescue::ImageEnd::Interrupted:
        PrintError(Text(AAA::Msg::ImagingInterrupted, {mapPath}));
        return kInterrupted;
    case Rescue::ImageEnd::SourceLost:
        PrintError(Text(AAA::Msg::ImagingCardGone, {request.source + ": " + Reason(imager.Error()), mapPath}));
        return kFailed;
    case Rescue::ImageEnd::Failed:
        break;
    }
    PrintError(Text(AAA::Msg::ImagingStopped, {Reason(imager.Error())}));
    return kFailed;
}

} // namespace

std::string MapPathFor(const ImageRequest& request) { return request.map.empty() ? request.image + ".map" : request.map; }

int RunImage(const ImageRequest& request) {
    const std::string mapPath = MapPathFor(request);
    if (SamePath(request.image, mapPath) || SamePath(request.source, mapPath) || SamePath(request.source, request.image)) {
        PrintError(SamePath(request.image, mapPath) ? Text(AAA::Msg::SamePaths, {request.image, mapPath})
                                                    : Text(AAA::Msg::SamePaths, {request.source, SamePath(request.source, mapPath) ? mapPath : request.image}));
        return kRefused;
    }
    int error = 0;
    Rescue::DeviceSource source(request.source, error);
    if (error != 0) {
        PrintError(request.source + ": " + Reason(error));
        return kFailed;
    }
    std::optional<Rescue::Map> map = StartingMap(request, mapPath, source.Size());
    if (!map)
        return kRefused;
    const bool resuming = Exists(request.image);
    Rescue::ImageFile image(request.image, resuming ? Rescue::ImageOpen::Resume : Rescue::ImageOpen::CreateNew,
                            source.Size(), error);
    if (error != 0) {
        PrintError(request.image + ": " + Reason(error));
        return kFailed;
    }
    if (Rescue::SameFile(source.Descriptor(), image.Descriptor())) {
        PrintError(Text(AAA::Msg::SamePaths, {request.source, request.image}));
        return kRefused;
    }
    const std::string commandLine = CommandLine(request, mapPath);
    ImageProgress progress(request.style);
    Rescue::ImagerOptions options;
    options.retries = request.retries;
    Rescue::Imager imager(
        source, image, *map, options,
        [&](const Rescue::Map& current, Rescue::SaveReason reason) {
            return Rescue::SaveMapFile(mapPath, current, commandLine,
                                       reason == Rescue::SaveReason::End ? Rescue::Durability::SyncThenRename
                                                                         : Rescue::Durability::Rename);
        },
        InterruptRequested, [&](const Rescue::ImagerStatus& status) { progress.Show(status); });
    const Rescue::ImageEnd end = imager.Run();
    progress.Finish();
    return Report(request, mapPath, imager, end);
}

} // namespace KalvoryCli
