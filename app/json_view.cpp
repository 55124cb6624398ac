#include "app/json_view.h"

#include "update/launch_messages.h"

namespace {

bool FromRepair(uint32_t message) {
    return message >= WM_REPAIR_STATUS && message <= WM_REPAIR_DONE;
}

}  // namespace

platform::JsonLine JsonView::Event(const char* name, bool repair) const {
    platform::JsonLine line;
    line.Text("event", name).Text("phase", repair ? "repair" : "update");
    return line;
}

void JsonView::AddTransfer(platform::JsonLine& line, bool repair) const {
    const std::optional<Transfer> transfer = probe_ ? probe_(repair) : std::nullopt;
    if (!transfer) return;
    line.Number("bytes", transfer->bytes);
    if (transfer->size > 0) line.Number("size", transfer->size);
    line.Number("speed", transfer->speed);
}

void JsonView::Show(uint32_t message, const LaunchDialogModel& model) {
    const bool repair = FromRepair(message);
    if (message == WM_LAUNCH_ERROR || message == WM_REPAIR_ERROR) {
        status_ = model.status();
        detail_ = model.detail();
        Write(Event("error", repair).Text("text", status_));
    }
    if (model.status() != status_) {
        status_ = model.status();
        platform::JsonLine line = Event("status", repair);
        line.Text("text", status_).Bool("error", model.statusColour() == kErrorColour);
        // The repair shows its download's figures on the status line.
        if (repair) AddTransfer(line, repair);
        Write(line);
    }
    if (model.extra() != extra_) {
        extra_ = model.extra();
        Write(Event("extra", repair).Text("text", extra_));
    }
    if (model.detail() != detail_) {
        detail_ = model.detail();
        platform::JsonLine line = Event("detail", repair);
        line.Text("text", detail_);
        AddTransfer(line, repair);
        Write(line);
    }
    if (model.upperBar() != upper_ || model.lowerBar() != lower_ || model.marquee() != marquee_) {
        upper_ = model.upperBar();
        lower_ = model.lowerBar();
        marquee_ = model.marquee();
        platform::JsonLine line = Event("progress", repair);
        line.Number("file", upper_).Number("total", lower_).Bool("marquee", marquee_);
        AddTransfer(line, repair);
        Write(line);
    }
    if (model.closeEnabled() != closeEnabled_) {
        closeEnabled_ = model.closeEnabled();
        Write(Event("close", repair).Bool("enabled", closeEnabled_));
    }
}
