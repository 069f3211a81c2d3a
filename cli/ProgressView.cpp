#include "ProgressView.h"

#include <algorithm>

#include <unistd.h>

#include "AAA_Progress.h"

namespace KalvoryCli {
namespace {
constexpr int kBarWidth = 30;
constexpr int kLineStep = 10; // plain output reports every tenth
} // namespace

ProgressStyle StyleFor(std::FILE* stream) {
    return isatty(fileno(stream)) ? ProgressStyle::Bar : ProgressStyle::Lines;
}

ProgressView::ProgressView(std::FILE* out, ProgressStyle style, std::string label, RemainingWords words,
                           std::string phase)
    : out_(out), style_(style), label_(std::move(label)), words_(std::move(words)), phase_(std::move(phase)),
      start_(std::chrono::steady_clock::now()) {}

std::string ProgressView::JsonLine(int percent, uint64_t bytes, int64_t files, double elapsedSeconds) const {
    std::string line = "{\"phase\": \"" + phase_ + "\", \"percent\": " + std::to_string(percent) +
                       ", \"bytes\": " + std::to_string(bytes) +
                       ", \"files\": " + (files < 0 ? std::string("null") : std::to_string(files)) + ", \"remainingSeconds\": ";
    if (percent <= 0 || percent >= 100)
        line += percent >= 100 ? "0" : "null";
    else
        line += std::to_string(static_cast<long long>(elapsedSeconds / percent * (100 - percent)));
    return line + "}";
}

std::string ProgressView::BarLine(int percent, double elapsedSeconds) const {
    const int filled = percent * kBarWidth / 100;
    std::string line = label_ + " [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] ";
    const std::string number = std::to_string(percent);
    line += std::string(3 - (number.size() < 3 ? number.size() : 3), ' ') + number + "%";
    const std::string remaining = detail_.empty() ? RemainingTimeText(percent, elapsedSeconds, words_) : detail_;
    if (!remaining.empty())
        line += "  " + remaining;
    return line;
}

void ProgressView::Update(int percent) {
    if (style_ == ProgressStyle::Json) {
        // A verification reads the card; a save counts what it wrote.
        const bool verifying = phase_ == "verify";
        Update(percent, verifying ? Restore::ProgressPosition.load() : Restore::ProgressWritten.load(),
               verifying ? -1 : static_cast<int64_t>(Restore::ProgressFiles.load()));
        return;
    }
    const int part = std::clamp(percent, 0, 100);
    // Never backwards across parts either: a later part may start past where the bar stands.
    UpdateShown(std::max(spanFrom_ + part * (spanTo_ - spanFrom_) / 100, std::max(lastShown_, 0)),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
}

void ProgressView::NextPart(std::string label, std::string phase, int from, int to) {
    label_ = std::move(label);
    phase_ = std::move(phase);
    spanFrom_ = std::clamp(from, 0, 100);
    spanTo_ = std::clamp(to, spanFrom_, 100);
    if (style_ == ProgressStyle::Json)
        lastShown_ = -1; // each phase's lines count from its own start
}

void ProgressView::Update(int percent, uint64_t bytes, int64_t files) {
    if (style_ != ProgressStyle::Json) {
        Update(percent);
        return;
    }
    // Never backwards: a reader skipping about moves the raw percent both ways.
    percent = std::max(std::clamp(percent, 0, 100), lastShown_);
    if (percent != lastShown_ || bytes != lastBytes_ || files != lastFiles_) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::fprintf(out_, "%s\n", JsonLine(percent, bytes, files, elapsed).c_str());
        std::fflush(out_);
    }
    lastShown_ = percent;
    lastBytes_ = bytes;
    lastFiles_ = files;
}

void ProgressView::UpdateShown(int percent, double elapsed) {
    if (style_ == ProgressStyle::Bar) {
        std::fprintf(out_, "\r%s\033[K", BarLine(percent, elapsed).c_str());
        std::fflush(out_);
    } else if (style_ == ProgressStyle::Lines && (lastShown_ < 0 || percent >= lastShown_ + kLineStep ||
                                                   (percent == 100 && lastShown_ != 100))) {
        const std::string remaining = detail_.empty() ? RemainingTimeText(percent, elapsed, words_) : detail_;
        std::fprintf(out_, "%s: %d%%%s%s\n", label_.c_str(), percent, remaining.empty() ? "" : "  ",
                     remaining.c_str());
        std::fflush(out_);
        lastShown_ = percent;
    }
}

void ProgressView::Finish() {
    if (style_ == ProgressStyle::Bar) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
}

} // namespace KalvoryCli
