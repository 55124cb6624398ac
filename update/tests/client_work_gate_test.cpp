#include "update/client_work_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using Work = ClientWorkGate::Work;

// One writer at a time; a repair and the game start only after an update that left the
// client up to date, and again after a repair however it ended.
TEST(ClientWorkGate, OneWriterAtATimeAndRepairOrStartOnlyOnceTheUpdateSucceeded) {
    ClientWorkGate gate;
    EXPECT_TRUE(gate.MayBegin(Work::Update));
    EXPECT_FALSE(gate.MayBegin(Work::Repair)) << "nothing is known of the client yet";
    EXPECT_FALSE(gate.MayBegin(Work::GameStart));

    ClientWorkGate::Pass update = gate.Enter(Work::Update);
    ASSERT_TRUE(update);
    EXPECT_EQ(gate.holder(), Work::Update);
    for (Work other : {Work::Update, Work::Repair, Work::GameStart}) {
        EXPECT_FALSE(gate.MayBegin(other));
        EXPECT_FALSE(gate.Enter(other)) << "a second writer is refused";
    }
    update.MarkClientUpToDate();
    EXPECT_FALSE(gate.MayBegin(Work::GameStart)) << "not while the update still holds the client";
    update.Leave();
    EXPECT_FALSE(gate.holder().has_value());
    EXPECT_TRUE(gate.MayBegin(Work::Repair));
    EXPECT_TRUE(gate.MayBegin(Work::GameStart));

    {
        ClientWorkGate::Pass repair = gate.Enter(Work::Repair);
        ASSERT_TRUE(repair);
        repair.MarkClientUpToDate();  // only an update's word counts
        EXPECT_FALSE(gate.MayBegin(Work::GameStart)) << "no start under a repair";
        EXPECT_FALSE(gate.Enter(Work::GameStart));
        EXPECT_FALSE(gate.Enter(Work::Update));
    }  // a repair that failed or was stopped leaves the client as ready as before
    EXPECT_TRUE(gate.MayBegin(Work::Repair));
    EXPECT_TRUE(gate.MayBegin(Work::GameStart));

    // A new update makes the client unknown again; one that fails leaves it so.
    ClientWorkGate::Pass again = gate.Enter(Work::Update);
    ASSERT_TRUE(again);
    ClientWorkGate::Pass moved = std::move(again);
    EXPECT_FALSE(again);
    moved = ClientWorkGate::Pass();  // given back by being replaced
    EXPECT_FALSE(gate.holder().has_value());
    EXPECT_FALSE(gate.MayBegin(Work::Repair));
    EXPECT_FALSE(gate.MayBegin(Work::GameStart));
}

// Many threads race for the client: never two holders at once.
TEST(ClientWorkGate, ThreadsRacingForTheClientNeverHoldItTogether) {
    ClientWorkGate gate;
    std::atomic<int> holders{0}, overlaps{0}, entered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                ClientWorkGate::Pass pass = gate.Enter(t % 2 ? Work::Repair : Work::Update);
                if (!pass) continue;
                ++entered;
                if (++holders != 1) ++overlaps;
                --holders;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_GT(entered, 0);
    EXPECT_FALSE(gate.holder().has_value());
}

}  // namespace
