#include "app/terminal_view.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "update/launch_messages.h"

namespace {

uintptr_t T(const char* text) { return reinterpret_cast<uintptr_t>(text); }

// Captures what the view writes.
struct Capture {
    Capture() { file = open_memstream(&data, &size); }
    ~Capture() {
        std::fclose(file);
        std::free(data);
    }
    std::string Text() {
        std::fflush(file);
        return std::string(data, size);
    }
    char* data = nullptr;
    size_t size = 0;
    FILE* file;
};

TEST(TerminalView, PlainLinesOnlyWhenSomethingChanges) {
    Capture capture;
    TerminalView view(capture.file, /*interactive=*/false);
    LaunchDialogModel model({}, false);
    model.HandleMessage(WM_LAUNCH_STATUS, T("downloading"), 0);
    view.Draw(model);
    view.Draw(model);  // nothing new
    model.HandleMessage(WM_LAUNCH_PROGRESS, 55, 0);
    view.Draw(model);
    model.HandleMessage(WM_LAUNCH_PROGRESS, 56, 0);  // same tenth: no new line
    view.Draw(model);
    model.HandleMessage(WM_LAUNCH_ERROR, T("failed"), 0);
    view.Draw(model);
    EXPECT_EQ(capture.Text(),
              "downloading\n"
              "  file   0%  total   0%\n"
              "  file  55%  total   0%\n"
              "error: failed\n");
}

TEST(TerminalView, InPlaceRedrawGoesBackOverItsLines) {
    Capture capture;
    TerminalView view(capture.file, /*interactive=*/true);
    LaunchDialogModel model({}, false);
    model.HandleMessage(WM_LAUNCH_STATUS, T("one"), 0);
    view.Draw(model);
    model.HandleMessage(WM_LAUNCH_STATUS, T("two"), 0);
    view.Draw(model);
    const std::string text = capture.Text();
    EXPECT_EQ(text.find("\x1b[5A"), text.find("two") - 9);  // cursor up, then clear, then text
}

TEST(TerminalView, Bars) {
    EXPECT_EQ(TerminalView::Bar(50, false, 10, 0), "[#####.....]  50%");
    EXPECT_EQ(TerminalView::Bar(140, false, 4, 0), "[####] 100%");
    EXPECT_EQ(TerminalView::Bar(0, true, 10, 9), "[=........=]");
}

}  // namespace
