// Which of the update, a repair and the game start may work on the client now.
//
// All three write the client's packs: the update applies its packages, a repair restores
// entries, and the game start opens every pack for writing to clear the editing flag a
// killed writer left. Two of them at once corrupt a pack (a writer that finds the flag set
// frees the blocks it takes for a dead writer's leftovers), so the process lets exactly one
// hold the client at a time; the lock on "quillgate.lock" keeps other launchers out.
//
// A worker takes its pass when it starts and gives it back as its thread ends; the game
// start holds one while it clears the flags and starts the game. A front end asks
// `MayBegin` to offer a command, and a pass that is refused refuses the work whatever the
// front end showed.
//
// Threads: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

class ClientWorkGate {
  public:
    enum class Work { Update, Repair, GameStart };

    // The hold of one work on the client; given back when destroyed, reset or moved over.
    class Pass {
      public:
        Pass() = default;
        ~Pass() { Leave(); }
        Pass(Pass&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
        Pass& operator=(Pass&& other) noexcept;
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

        explicit operator bool() const { return gate_ != nullptr; }
        // An update that left the client up to date says so before it leaves: from then on
        // a repair and the game start may begin.
        void MarkClientUpToDate();
        void Leave();

      private:
        friend class ClientWorkGate;
        explicit Pass(ClientWorkGate* gate) : gate_(gate) {}
        ClientWorkGate* gate_ = nullptr;
    };

    ClientWorkGate() = default;
    ClientWorkGate(const ClientWorkGate&) = delete;
    ClientWorkGate& operator=(const ClientWorkGate&) = delete;

    // The pass of `work`, or an empty one while another work holds the client. An update
    // that enters makes the client "not known to be up to date" until it says otherwise.
    Pass Enter(Work work);

    // Whether `work` may begin now: nothing holds the client, and a repair or the game
    // start only once an update has left the client up to date. A failed or stopped
    // repair changes nothing here: the client is as ready as it was before it.
    bool MayBegin(Work work) const;
    std::optional<Work> holder() const;
    bool clientUpToDate() const;
    // Grows at every change, so that a view can tell when to look again.
    uint64_t generation() const;

    // The gate of this process, which the workers and the game start use.
    static ClientWorkGate& OfProcess();

  private:
    void Release();

    mutable std::mutex mutex_;
    std::optional<Work> holder_;
    bool clientUpToDate_ = false;
    bool markedUpToDate_ = false;  // by the current update's pass
    uint64_t generation_ = 0;
};
