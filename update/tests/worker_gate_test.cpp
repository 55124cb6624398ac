// The update and repair workers hold the process's client gate for as long as their
// threads run: no second writer of the client's packs can start beside them.
#include <gtest/gtest.h>

#include <optional>

#include "update/client_work_gate.h"
#include "update/launch_worker.h"
#include "update/repair_worker.h"
#include "update/tests/worker_site_fixture.h"

namespace {

using namespace worker_test;
using Work = ClientWorkGate::Work;

class WorkerGateTest : public WorkerSiteTest {
  protected:
    LauncherConfig RepairConfig() {
        LauncherConfig config;
        config.repairUrl = primary_.Url("/repair/");
        config.downloadDir = "download\\";
        return config;
    }
    ClientWorkGate& gate_ = ClientWorkGate::OfProcess();
};

TEST_F(WorkerGateTest, TheUpdateHoldsTheClientUntilItsThreadEndsAndThenOffersTheRest) {
    WritePatchInfo("CN.1.0.1", PatchSection("patch_1", "CN.1.0.0", "CN.1.0.1", "p1.jzq"));
    MakePackage(site_ / "patch/p1.jzq", Versioned({"", {}}, "CN.1.0.1"), true);
    std::optional<Work> holderMeanwhile;
    bool repairStarted = true, secondUpdateStarted = true;
    AXP::Updater updater;
    CLaunchWorker::Hooks hooks;
    // Asked on the pipeline thread just before the packages are applied.
    hooks.checkGameRunning = [&] {
        holderMeanwhile = gate_.holder();
        CRepairWorker repair;
        repairStarted = repair.Start(platform::kNoWindow, &updater, RepairConfig());
        CLaunchWorker second;
        secondUpdateStarted = second.Start(platform::kNoWindow, &updater, "quillgate.cfg");
        return false;
    };
    ASSERT_EQ(Run(hooks), kResultUpToDate);
    EXPECT_EQ(holderMeanwhile, Work::Update);
    EXPECT_FALSE(repairStarted);
    EXPECT_FALSE(secondUpdateStarted);
    EXPECT_FALSE(gate_.holder().has_value()) << "given back as the thread ended";
    EXPECT_TRUE(gate_.MayBegin(Work::Repair));
    EXPECT_TRUE(gate_.MayBegin(Work::GameStart));

    // An update that fails leaves the client unknown: no repair, no start.
    ASSERT_EQ(Run({.freeDiskBytes = [] { return std::optional<uint64_t>(1000); }}),
              kResultNoDiskSpace);
    EXPECT_FALSE(gate_.MayBegin(Work::Repair));
    EXPECT_FALSE(gate_.MayBegin(Work::GameStart));
}

TEST_F(WorkerGateTest, ARepairHoldsTheClientUntilItsThreadEnds) {
    std::optional<Work> holderMeanwhile;
    bool updateStarted = true, secondRepairStarted = true, gameStartAllowed = true;
    AXP::Updater updater;
    CRepairWorker repair;
    CRepairWorker::Hooks hooks;
    // Asked first thing on the repair thread; "cancelled" ends the repair there.
    hooks.checkGameRunning = [&] {
        holderMeanwhile = gate_.holder();
        gameStartAllowed = gate_.MayBegin(Work::GameStart) || gate_.Enter(Work::GameStart);
        CLaunchWorker update;
        updateStarted = update.Start(platform::kNoWindow, &updater, "quillgate.cfg");
        CRepairWorker second;
        secondRepairStarted = second.Start(platform::kNoWindow, &updater, RepairConfig());
        return true;
    };
    repair.SetHooks(hooks);
    ASSERT_TRUE(repair.Start(platform::kNoWindow, &updater, RepairConfig()));
    repair.Join();
    EXPECT_EQ(holderMeanwhile, Work::Repair);
    EXPECT_FALSE(updateStarted);
    EXPECT_FALSE(secondRepairStarted);
    EXPECT_FALSE(gameStartAllowed);
    EXPECT_FALSE(gate_.holder().has_value());
}

}  // namespace
