// Draws the main-window model on a terminal: redrawn in place when the output is a
// terminal, plain lines (only when a text changes) when it is a file or a pipe.
#pragma once

#include <cstdio>
#include <string>

#include "app/launch_dialog_model.h"

class TerminalView {
  public:
    TerminalView(FILE* out, bool interactive) : out_(out), interactive_(interactive) {}

    // Shows what changed since the last call.
    void Draw(const LaunchDialogModel& model);

    // Text bar of `width` cells for 0..100, or a moving marquee.
    static std::string Bar(int percent, bool marquee, int width, uint64_t tick);

  private:
    void DrawInPlace(const LaunchDialogModel& model);
    void DrawLines(const LaunchDialogModel& model);

    FILE* out_;
    bool interactive_;
    int linesDrawn_ = 0;
    uint64_t lastRevision_ = ~0ULL;
    uint64_t ticks_ = 0;
    std::string lastStatus_, lastDetail_, lastExtra_;
    int lastUpperDecile_ = -1, lastLowerDecile_ = -1;
};
