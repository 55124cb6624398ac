#include "app/launch_dialog_model.h"

#include <gtest/gtest.h>

#include "update/launch_messages.h"
#include "update/message_table.h"

namespace {

using Action = LaunchDialogModel::Action;

uintptr_t T(const char* text) { return reinterpret_cast<uintptr_t>(text); }

using Work = ClientWorkGate::Work;

class LaunchDialogModelTest : public ::testing::Test {
  protected:
    LaunchDialogModel Make(bool repairOffered) {
        return LaunchDialogModel(
            {[this] { return result_; }, [] { return 3; }, [this] { ++stopSignals_; }},
            repairOffered, gate_);
    }
    // An update thread that runs to its end, as the worker holds the client meanwhile.
    void UpdateRunsToItsEnd(int result) {
        ClientWorkGate::Pass pass = gate_.Enter(Work::Update);
        ASSERT_TRUE(pass);
        result_ = result;
        if (result == kResultUpToDate) pass.MarkClientUpToDate();
    }
    int result_ = kResultRunning;
    int stopSignals_ = 0;
    ClientWorkGate gate_;
};

TEST_F(LaunchDialogModelTest, TextLinesAndTheErrorColourThatStays) {
    LaunchDialogModel m = Make(false);
    bool consumed = false;
    m.HandleMessage(WM_LAUNCH_STATUS, T("status"), 0, &consumed);
    EXPECT_TRUE(consumed);
    m.HandleMessage(WM_LAUNCH_DETAIL, T("detail"), 0);
    EXPECT_EQ(m.status(), "status");
    EXPECT_EQ(m.detail(), "detail");
    EXPECT_EQ(m.statusColour(), kLabelColour);

    m.HandleMessage(WM_LAUNCH_STATUS2, T("A"), static_cast<intptr_t>(T("B")));
    EXPECT_EQ(m.extra(), "AB");
    EXPECT_EQ(m.detail(), "A");

    m.HandleMessage(WM_REPAIR_ERROR, T("broken"), 0);
    EXPECT_EQ(m.status(), "broken");
    EXPECT_EQ(m.detail(), "");
    EXPECT_EQ(m.statusColour(), kErrorColour);
    m.HandleMessage(WM_LAUNCH_STATUS, T("later"), 0);
    EXPECT_EQ(m.status(), "later");
    EXPECT_EQ(m.statusColour(), kErrorColour);

    m.HandleMessage(WM_LAUNCH_TOTAL_PROGRESS, 40, 0, &consumed);
    EXPECT_FALSE(consumed);
    EXPECT_EQ(m.lowerBar(), 40);
}

TEST_F(LaunchDialogModelTest, UpperBarMarqueeAndSpinner) {
    LaunchDialogModel m = Make(false);
    m.HandleMessage(WM_LAUNCH_PROGRESS, 30, 0);
    uint64_t revision = m.revision();
    m.HandleMessage(WM_LAUNCH_PROGRESS, 30, 0);
    EXPECT_EQ(m.revision(), revision) << "the same position does not redraw";

    m.HandleMessage(WM_LAUNCH_STATUS, T("status stays"), 0);
    m.HandleMessage(WM_LAUNCH_PROGRESS, MARQUEE_ON, 0);
    m.HandleMessage(WM_LAUNCH_PROGRESS, MARQUEE_ON, 0);
    EXPECT_TRUE(m.marqueeTimerRunning());
    std::string frames[4];
    for (std::string& f : frames) {
        m.OnMarqueeTick();
        f = m.detail();
    }
    EXPECT_EQ(m.status(), "status stays");
    // The three frames turn in order, and the fourth repeats the first.
    EXPECT_NE(frames[0], frames[1]);
    EXPECT_NE(frames[1], frames[2]);
    EXPECT_EQ(frames[3], frames[0]);
    for (const std::string& f : frames) {
        const std::string a = GetMessageText(80), b = GetMessageText(81), c = GetMessageText(82);
        EXPECT_TRUE(f == a || f == b || f == c);
    }

    m.HandleMessage(WM_REPAIR_PROGRESS, MARQUEE_OFF, 0);
    EXPECT_FALSE(m.marquee());
    EXPECT_EQ(m.upperBar(), 0);
    const std::string detail = m.detail();
    m.OnMarqueeTick();  // a late tick after the timer stopped changes nothing
    EXPECT_EQ(m.detail(), detail);
}

TEST_F(LaunchDialogModelTest, UpdateDoneByResult) {
    LaunchDialogModel m = Make(true);
    EXPECT_FALSE(m.startEnabled());
    for (int other : {kResultRunning, kResultFailed, kResultApplyFailed, kResultNoDiskSpace}) {
        result_ = other;
        const uint64_t before = m.revision();
        EXPECT_EQ(m.HandleMessage(WM_LAUNCH_DONE, 0, 0), Action::None);
        EXPECT_EQ(m.revision(), before);
        EXPECT_FALSE(m.startEnabled());
    }
    uint64_t revision = 0;
    {
        ClientWorkGate::Pass update = gate_.Enter(Work::Update);
        result_ = kResultUpToDate;
        update.MarkClientUpToDate();
        m.HandleMessage(WM_LAUNCH_DETAIL, T("figures"), 0);
        EXPECT_EQ(m.HandleMessage(WM_LAUNCH_DONE, 0, 0), Action::None);
        EXPECT_EQ(m.upperBar(), 100);
        EXPECT_EQ(m.lowerBar(), 100);
        EXPECT_EQ(m.detail(), "");
        EXPECT_FALSE(m.startEnabled()) << "the update's thread still holds the client";
        EXPECT_FALSE(m.repairEnabled());
        revision = m.revision();
    }  // the thread ends
    EXPECT_TRUE(m.startEnabled());
    EXPECT_TRUE(m.repairEnabled());
    EXPECT_GT(m.revision(), revision) << "the gate's change is a change to draw";

    result_ = kResultLauncherReplaced;
    EXPECT_EQ(m.HandleMessage(WM_LAUNCH_DONE, 0, 0), Action::StartInstalledLauncherAndClose);
    EXPECT_EQ(m.HandleMessage(WM_LAUNCH_MANUAL_DOWNLOAD, 0, 0), Action::RunManualDownloadThenQuit);
}

// Repair is offered only in the ready state; start stays off while a repair runs, and
// after a repair that failed (or was stopped) both come back with the failure shown.
TEST_F(LaunchDialogModelTest, RepairAndStartFollowTheClientsGate) {
    LaunchDialogModel none = Make(false);
    UpdateRunsToItsEnd(kResultUpToDate);
    none.HandleMessage(WM_LAUNCH_DONE, 0, 0);
    EXPECT_FALSE(none.repairEnabled()) << "no repair address: never offered";
    EXPECT_EQ(none.RequestClose(), Action::Close);

    ClientWorkGate::Pass update = gate_.Enter(Work::Update);
    LaunchDialogModel m = Make(true);
    EXPECT_FALSE(m.repairEnabled()) << "not while the update writes the packs";
    EXPECT_FALSE(m.startEnabled());
    update.Leave();
    EXPECT_FALSE(m.repairEnabled()) << "nor after an update that did not succeed";

    UpdateRunsToItsEnd(kResultUpToDate);
    m.HandleMessage(WM_LAUNCH_DONE, 0, 0);
    ASSERT_TRUE(m.repairEnabled());
    ASSERT_TRUE(m.startEnabled());

    for (bool completes : {true, false}) {
        ClientWorkGate::Pass repair = gate_.Enter(Work::Repair);  // as the worker starts
        m.OnRepairStarted();
        EXPECT_FALSE(m.startEnabled());
        EXPECT_FALSE(m.repairEnabled());
        m.HandleMessage(WM_LAUNCH_DONE, 0, 0);  // a late word of the update changes nothing
        EXPECT_FALSE(m.startEnabled());
        if (completes) {
            m.HandleMessage(WM_REPAIR_DONE, 0, 0);
            char expected[256];
            std::snprintf(expected, sizeof(expected), GetMessageText(MessageId::kRepairDone), 3);
            EXPECT_EQ(m.status(), expected);
        } else {
            m.HandleMessage(WM_REPAIR_ERROR, T("repair failed"), 0);
        }
        EXPECT_FALSE(m.startEnabled()) << "until the repair's thread has ended";
        repair.Leave();
        m.OnRepairThreadEnded();
        EXPECT_FALSE(m.repairRunning());
        EXPECT_TRUE(m.startEnabled()) << completes;
        EXPECT_TRUE(m.repairEnabled()) << completes;
        EXPECT_TRUE(m.configToolEnabled());
    }
    EXPECT_EQ(m.status(), "repair failed") << "the failure stays shown";
    EXPECT_EQ(m.statusColour(), kErrorColour);

    ClientWorkGate::Pass repair = gate_.Enter(Work::Repair);
    m.OnRepairStarted();
    EXPECT_EQ(m.RequestClose(), Action::WaitForRepairThenClose);
    EXPECT_FALSE(m.closeEnabled());
    EXPECT_EQ(stopSignals_, 1);

    m.HandleMessage(WM_LAUNCH_ENABLE_CLOSE, 0, 0);
    EXPECT_TRUE(m.closeEnabled());
    m.HandleMessage(WM_LAUNCH_DISABLE_CLOSE, 0, 0);
    EXPECT_FALSE(m.closeEnabled());
}

}  // namespace
