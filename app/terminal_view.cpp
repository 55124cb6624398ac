#include "app/terminal_view.h"

namespace {

constexpr int kBarWidth = 40;
constexpr const char* kRed = "\x1b[31m";
constexpr const char* kReset = "\x1b[0m";

}  // namespace

std::string TerminalView::Bar(int percent, bool marquee, int width, uint64_t tick) {
    std::string bar(static_cast<size_t>(width), '.');
    if (marquee) {
        const int block = width / 5;
        const int start = static_cast<int>(tick % static_cast<uint64_t>(width));
        for (int i = 0; i < block; ++i) bar[static_cast<size_t>((start + i) % width)] = '=';
        return "[" + bar + "]";
    }
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const int filled = percent * width / 100;
    for (int i = 0; i < filled; ++i) bar[static_cast<size_t>(i)] = '#';
    char figure[8];
    std::snprintf(figure, sizeof(figure), "%3d%%", percent);
    return "[" + bar + "] " + figure;
}

void TerminalView::Draw(const LaunchDialogModel& model) {
    if (model.revision() == lastRevision_ && !model.marquee()) return;
    lastRevision_ = model.revision();
    ++ticks_;
    if (interactive_) {
        DrawInPlace(model);
    } else {
        DrawLines(model);
    }
    std::fflush(out_);
}

void TerminalView::DrawInPlace(const LaunchDialogModel& model) {
    // Back to the first line of the previous drawing, then every line anew.
    if (linesDrawn_ > 0) std::fprintf(out_, "\x1b[%dA", linesDrawn_);
    const bool error = model.statusColour() == kErrorColour;
    std::fprintf(out_, "\r\x1b[2K%s%s%s\n", error ? kRed : "", model.status().c_str(),
                 error ? kReset : "");
    std::fprintf(out_, "\r\x1b[2K%s\n", model.detail().c_str());
    std::fprintf(out_, "\r\x1b[2K%s\n", model.extra().c_str());
    std::fprintf(out_, "\r\x1b[2K%s\n",
                 Bar(model.upperBar(), model.marquee(), kBarWidth, ticks_).c_str());
    std::fprintf(out_, "\r\x1b[2K%s\n", Bar(model.lowerBar(), false, kBarWidth, 0).c_str());
    linesDrawn_ = 5;
}

void TerminalView::DrawLines(const LaunchDialogModel& model) {
    if (model.status() != lastStatus_) {
        lastStatus_ = model.status();
        std::fprintf(out_, "%s%s\n", model.statusColour() == kErrorColour ? "error: " : "",
                     lastStatus_.c_str());
    }
    if (model.detail() != lastDetail_) {
        lastDetail_ = model.detail();
        if (!lastDetail_.empty()) std::fprintf(out_, "  %s\n", lastDetail_.c_str());
    }
    if (model.extra() != lastExtra_) {
        lastExtra_ = model.extra();
        if (!lastExtra_.empty()) std::fprintf(out_, "  %s\n", lastExtra_.c_str());
    }
    // Bars as figures, once per tenth, so a log stays short.
    const int upper = model.marquee() ? lastUpperDecile_ : model.upperBar() / 10;
    const int lower = model.lowerBar() / 10;
    if (upper != lastUpperDecile_ || lower != lastLowerDecile_) {
        lastUpperDecile_ = upper;
        lastLowerDecile_ = lower;
        std::fprintf(out_, "  file %3d%%  total %3d%%\n", model.upperBar(), model.lowerBar());
    }
}
