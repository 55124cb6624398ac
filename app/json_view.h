// What the main window would show, written for other programs: one JSON object per line
// and event (`quillgate --headless --json`; the README lists the events and fields). A
// line is written when something the window shows changed, never for a repeat.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "app/launch_dialog_model.h"
#include "platform/json_line.h"

class JsonView {
  public:
    // The figures of the download under way, when one is.
    struct Transfer {
        int64_t bytes = 0;
        int64_t size = 0;   // 0 when the length is not known
        int64_t speed = 0;  // bytes per second
    };
    // Asked for the update's (false) or the repair's (true) download.
    using TransferProbe = std::function<std::optional<Transfer>(bool repair)>;

    JsonView(std::FILE* out, TransferProbe probe) : out_(out), probe_(std::move(probe)) {}

    // After the model handled a worker's message: a line for each shown thing it changed,
    // and for every error and end.
    void Show(uint32_t message, const LaunchDialogModel& model);

    // A line of the front end's own ("result", "repair", "manual-download", "start").
    void Write(const platform::JsonLine& line) { line.WriteTo(out_); }

  private:
    platform::JsonLine Event(const char* name, bool repair) const;
    void AddTransfer(platform::JsonLine& line, bool repair) const;

    std::FILE* out_;
    TransferProbe probe_;
    std::string status_, detail_, extra_;
    int upper_ = 0, lower_ = 0;
    bool marquee_ = false;
    bool closeEnabled_ = true;
};
