// A progress bar of the range 0-100 that can also run as a marquee (a block that moves
// back and forth while the length of the work is unknown).
#pragma once

#include "platform/ui/toolkit.h"
#include "platform/ui/widget.h"

namespace platform::ui {

// The bar's colours, fixed so that a screenshot can tell how full it is.
inline constexpr Colour kProgressFillColour = 0x00FFAA50;
inline constexpr Colour kProgressTroughColour = 0x0038261E;

class ProgressBar : public Widget {
  public:
    ProgressBar(Window& parent, const Rect& rect);
    ~ProgressBar() override;
    void SetPosition(int percent);  // clamped into 0-100; ignored while the marquee runs
    int position() const { return position_; }
    void StartMarquee(uint32_t stepMs);  // starting it again restarts it
    void StopMarquee();                  // back to the position
    bool marquee() const { return marquee_.running(); }

  private:
    int position_ = 0;
    Timer marquee_;
};

}  // namespace platform::ui
