#pragma once
// Wakes one thread that waits for work, from any thread, a real-time one too, without a
// system call while the waiter is awake: only a ring that finds it asleep costs one. Rings
// while it works are kept as one, so the waiter looks for work once more before it sleeps.

#include <atomic>
#include <cstdint>

class Doorbell {
public:
    // Lock-free; the work is handed over before the ring.
    void Ring()
    {
        if (m_state.exchange(kRung, std::memory_order_acq_rel) == kAsleep)
            m_state.notify_one();
    }

    // The waiter only: returns at once if rung since it last returned, else sleeps until then.
    void Wait()
    {
        std::uint32_t state = kQuiet;
        if (m_state.compare_exchange_strong(state, kAsleep, std::memory_order_acq_rel)) {
            while (m_state.load(std::memory_order_acquire) == kAsleep)
                m_state.wait(kAsleep, std::memory_order_acquire);
        }
        m_state.exchange(kQuiet, std::memory_order_acq_rel);
    }

private:
    static constexpr std::uint32_t kQuiet = 0;
    static constexpr std::uint32_t kRung = 1;
    static constexpr std::uint32_t kAsleep = 2;
    std::atomic<std::uint32_t> m_state{kQuiet};
};
