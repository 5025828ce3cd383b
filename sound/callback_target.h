#pragma once
// What the callbacks of a JACK client reach instead of the object that made the client. A
// client whose server has gone is abandoned, never closed (see abandon.h), so its threads
// live on: one may be in a callback at that moment, and a new server started under the same
// name can wake them again. The object lets go of its target before it goes, and the target is
// abandoned with the client, so a late callback finds no one and does nothing.
//
// Reaching the owner takes no lock, so a process callback may do it: letting go waits for a
// call under way to end instead.

#include <atomic>
#include <thread>

template <typename Owner> class CallbackTarget {
public:
    explicit CallbackTarget(Owner* owner) : m_owner(owner) {}
    CallbackTarget(const CallbackTarget&) = delete;
    CallbackTarget& operator=(const CallbackTarget&) = delete;

    // Calls `call` with the owner and returns true, or returns false once the owner has let go.
    template <typename Call> bool Reach(Call&& call)
    {
        m_calls.fetch_add(1);
        Owner* const owner = m_owner.load();
        if (owner)
            call(*owner);
        m_calls.fetch_sub(1);
        return owner != nullptr;
    }

    // Afterwards no call reaches the owner, and none that did is still running.
    void LetGo()
    {
        m_owner.store(nullptr);
        while (m_calls.load() != 0)
            std::this_thread::yield();
    }

private:
    std::atomic<Owner*> m_owner;
    std::atomic<int> m_calls{0};
};
