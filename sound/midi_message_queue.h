#pragma once
// Short messages on their way from the thread that sends them to the audio thread that plays
// them: one writer, one reader, no locks, so neither ever waits for the other. A full queue
// refuses the message rather than blocking the sender.

#include <cstdint>

#include <array>
#include <atomic>
#include <cstddef>

class MidiMessageQueue {
public:
    // Far more than a chord, a drum hit and every key at once; a power of two.
    static constexpr std::size_t kCapacity = 1024;

    // Writer side; false when the queue is full.
    bool Push(std::uint32_t message)
    {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_head.load(std::memory_order_acquire) == kCapacity)
            return false;
        m_slots[tail % kCapacity] = message;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Reader side: hands every waiting message to `apply`, oldest first.
    template <typename Apply> void Drain(Apply&& apply)
    {
        std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t tail = m_tail.load(std::memory_order_acquire);
        for (; head != tail; ++head)
            apply(m_slots[head % kCapacity]);
        m_head.store(head, std::memory_order_release);
    }

    // Messages pushed and played since the queue was cleared; either side may ask.
    std::size_t Pushed() const { return m_tail.load(std::memory_order_acquire); }
    std::size_t Played() const { return m_head.load(std::memory_order_acquire); }

    // Only while neither side is running.
    void Clear()
    {
        m_head.store(0);
        m_tail.store(0);
    }

private:
    std::array<std::uint32_t, kCapacity> m_slots{};
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
};
