#include "ProgressView.h"

#include <unistd.h>

namespace KalvoryCli {
namespace {
constexpr int kBarWidth = 30;
constexpr int kLineStep = 10; // plain output reports every tenth
} // namespace

ProgressStyle StyleFor(std::FILE* stream) {
    return isatty(fileno(stream)) ? ProgressStyle::Bar : ProgressStyle::Lines;
}

ProgressView::ProgressView(std::FILE* out, ProgressStyle style, std::string label, RemainingWords words)
    : out_(out), style_(style), label_(std::move(label)), words_(std::move(words)),
      start_(std::chrono::steady_clock::now()) {}

std::string ProgressView::BarLine(int percent, double elapsedSeconds) const {
    const int filled = percent * kBarWidth / 100;
    std::string line = label_ + " [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] ";
    const std::string number = std::to_string(percent);
    line += std::string(3 - (number.size() < 3 ? number.size() : 3), ' ') + number + "%";
    const std::string remaining = RemainingTimeText(percent, elapsedSeconds, words_);
    if (!remaining.empty())
        line += "  " + remaining;
    return line;
}

void ProgressView::Update(int percent) {
    if (percent < 0)
        percent = 0;
    if (percent > 100)
        percent = 100;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (style_ == ProgressStyle::Bar) {
        std::fprintf(out_, "\r%s\033[K", BarLine(percent, elapsed).c_str());
        std::fflush(out_);
    } else if (style_ == ProgressStyle::Lines && (lastShown_ < 0 || percent >= lastShown_ + kLineStep ||
                                                   (percent == 100 && lastShown_ != 100))) {
        const std::string remaining = RemainingTimeText(percent, elapsed, words_);
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
