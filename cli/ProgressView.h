#pragma once
// Shows a worker's progress: a redrawn bar on a terminal, plain lines otherwise.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "RemainingTime.h"

namespace KalvoryCli {

enum class ProgressStyle { Bar, Lines, Json, Silent };

class ProgressView {
public:
    // `phase` names the operation in the JSON lines ("verify", "save", "check").
    ProgressView(std::FILE* out, ProgressStyle style, std::string label, RemainingWords words,
                 std::string phase = {});
    void Update(int percent);
    // The same with what is done counted by the caller (`files` < 0: unknown).
    void Update(int percent, uint64_t bytes, int64_t files);
    // For programs: {"phase", "percent", "bytes", "files", "remainingSeconds"}.
    std::string JsonLine(int percent, uint64_t bytes, int64_t files, double elapsedSeconds) const;
    void Finish();
    // Shown in place of the remaining time the percent alone would give
    // (an imaging run's rate, bad bytes and its own estimate).
    void SetDetail(std::string detail) { detail_ = std::move(detail); }
    // One bar over several operations: the next operation's percent fills
    // [from, to] of the bar, under its own label and phase; the elapsed time
    // and so the remaining-time estimate run on across them. JSON lines keep
    // each phase's own percent.
    void NextPart(std::string label, std::string phase, int from, int to);
    // The line a terminal shows for `percent` after `elapsedSeconds`.
    std::string BarLine(int percent, double elapsedSeconds) const;

private:
    void UpdateShown(int percent, double elapsed);

    std::FILE* out_;
    ProgressStyle style_;
    std::string label_;
    RemainingWords words_;
    std::string phase_;
    std::chrono::steady_clock::time_point start_;
    int lastShown_ = -1;
    uint64_t lastBytes_ = 0;
    int64_t lastFiles_ = -1;
    std::string detail_;
    int spanFrom_ = 0;
    int spanTo_ = 100;
};

ProgressStyle StyleFor(std::FILE* stream);

} // namespace KalvoryCli
