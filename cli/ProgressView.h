#pragma once
// Shows a worker's progress: a redrawn bar on a terminal, plain lines otherwise.
#include <chrono>
#include <cstdio>
#include <string>

#include "RemainingTime.h"

namespace KalvoryCli {

enum class ProgressStyle { Bar, Lines, Silent };

class ProgressView {
public:
    ProgressView(std::FILE* out, ProgressStyle style, std::string label, RemainingWords words);
    void Update(int percent);
    void Finish();
    // The line a terminal shows for `percent` after `elapsedSeconds`.
    std::string BarLine(int percent, double elapsedSeconds) const;

private:
    std::FILE* out_;
    ProgressStyle style_;
    std::string label_;
    RemainingWords words_;
    std::chrono::steady_clock::time_point start_;
    int lastShown_ = -1;
};

ProgressStyle StyleFor(std::FILE* stream);

} // namespace KalvoryCli
