#pragma once
// Short messages on their way from the thread that sends them to the thread that plays them:
// one writer, one reader, no locks, so neither ever waits for the other, and a fixed size,
// so nothing grows however much comes at once.
//
// Nothing that ends a sound is ever lost. A message that finds the queue full is set aside
// (MidiSetAside): note-offs all, controllers, pitch bends, pressures and program changes as
// the latest of each, played after what the queue holds; until the reader has played them,
// what follows is set aside too, so that the order stays as sent. A note-on that finds no room
// is refused, and so is its note-off when it comes: no one hears an unpaired note-on.

#include "sound/midi_set_aside.h"

#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

class MidiMessageQueue {
public:
    // Far more than a chord, a drum hit and every key at once.
    static constexpr std::size_t kDefaultCapacity = 1024;

    // `capacity` is a power of two.
    explicit MidiMessageQueue(std::size_t capacity = kDefaultCapacity);

    // Writer side; false when a note-on is refused, or anything that is no MIDI short message.
    bool Push(std::uint32_t message);

    // Reader side: hands every waiting message to `apply`, oldest first, then what was set
    // aside. `apply` may return false when it can take no more for now: the rest then waits
    // for the next call.
    template <typename Apply> void Drain(Apply&& apply)
    {
        const auto take = [&apply](std::uint32_t message) {
            if constexpr (std::is_void_v<std::invoke_result_t<Apply&, std::uint32_t>>) {
                apply(message);
                return true;
            } else {
                return bool(apply(message));
            }
        };
        const std::size_t written = m_written.load(std::memory_order_acquire);
        std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t tail = m_tail.load(std::memory_order_acquire);
        for (; head != tail; ++head) {
            if (!take(m_slots[head & m_mask])) {
                m_head.store(head, std::memory_order_release);
                return;
            }
        }
        m_head.store(head, std::memory_order_release);
        const std::size_t kept = m_kept.load(std::memory_order_acquire);
        if (kept != m_replayed.load(std::memory_order_relaxed)) {
            if (!m_setAside.Replay(take))
                return;
            m_replayed.store(kept, std::memory_order_release);
        }
        m_played.store(written, std::memory_order_release);
    }

    // Messages taken and played since the queue was cleared; either side may ask.
    std::size_t Pushed() const { return m_written.load(std::memory_order_acquire); }
    std::size_t Played() const { return m_played.load(std::memory_order_acquire); }

    // Only while neither side is running.
    void Clear();

private:
    bool PushToRing(std::uint32_t message);
    bool SetAside(std::uint32_t message);
    void Taken()
    {
        m_written.store(m_written.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    std::vector<std::uint32_t> m_slots;
    std::size_t m_mask;
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
    MidiSetAside m_setAside;
    std::atomic<std::size_t> m_kept{0};     // messages set aside, by the writer
    std::atomic<std::size_t> m_replayed{0}; // of those, all played up to, by the reader
    std::atomic<std::size_t> m_written{0};
    std::atomic<std::size_t> m_played{0};
    // The writer's own: whether it sets aside, and the note-ons it refused, by channel and note.
    bool m_settingAside = false;
    std::bitset<16 * 128> m_refused;
};
