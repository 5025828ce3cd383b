#include "sound/loop_watch.h"

#include <algorithm>

namespace {
constexpr int kTimeBits = 36;
constexpr int kAwaitedShift = kTimeBits;
constexpr int kMessageShift = kTimeBits + 4;
constexpr std::uint64_t kTimeMask = (std::uint64_t(1) << kTimeBits) - 1;
constexpr std::uint64_t kMostAwaited = 15;
constexpr std::uint64_t kHorizonMicroseconds =
    std::chrono::duration_cast<std::chrono::microseconds>(LoopWatch::kLoopHorizon).count();

std::uint32_t MessageOf(std::uint64_t slot) { return std::uint32_t(slot >> kMessageShift); }
std::uint64_t AwaitedOf(std::uint64_t slot) { return (slot >> kAwaitedShift) & kMostAwaited; }
std::uint64_t Slot(std::uint32_t message, std::uint64_t awaited, std::uint64_t time)
{
    return std::uint64_t(message) << kMessageShift | awaited << kAwaitedShift | time;
}
} // namespace

// A note-off is known whichever way it is written: a client that echoes may rewrite Varnek's
// note-on with velocity 0 as a note-off proper.
std::uint32_t LoopWatch::Canonical(std::uint32_t message)
{
    message &= 0xFFFFFF;
    const std::uint32_t kind = message & 0xF0;
    if (kind == 0x80 || (kind == 0x90 && (message >> 16) == 0))
        return (message & 0x7F0F) | 0x80;
    return message;
}

std::uint64_t LoopWatch::NowMicroseconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) & kTimeMask;
}

std::size_t LoopWatch::SlotOf(std::uint32_t message)
{
    return std::size_t((message * 2654435761u) >> 16) % kSlots;
}

void LoopWatch::Sent(std::uint32_t message)
{
    const std::uint32_t canonical = Canonical(message);
    std::atomic<std::uint64_t>& slot = m_sent[SlotOf(canonical)];
    const std::uint64_t now = NowMicroseconds();
    std::uint64_t before = slot.load(std::memory_order_relaxed);
    std::uint64_t after = 0;
    do {
        const bool same = before != 0 && MessageOf(before) == canonical &&
                          ((now - before) & kTimeMask) < kHorizonMicroseconds;
        const std::uint64_t awaited = same ? std::min(AwaitedOf(before) + 1, kMostAwaited) : 1;
        after = Slot(canonical, awaited, now);
    } while (!slot.compare_exchange_weak(before, after, std::memory_order_relaxed));
}

bool LoopWatch::CameBack(std::uint32_t message, std::chrono::microseconds window, bool loopKnown)
{
    const std::uint32_t canonical = Canonical(message);
    std::atomic<std::uint64_t>& slot = m_sent[SlotOf(canonical)];
    const std::uint64_t now = NowMicroseconds();
    std::uint64_t before = slot.load(std::memory_order_relaxed);
    while (before != 0 && MessageOf(before) == canonical) {
        const std::uint64_t age = (now - before) & kTimeMask;
        const std::uint64_t awaited = AwaitedOf(before);
        const bool inWindow = age < std::uint64_t(window.count());
        if (!loopKnown || awaited == 0 || age >= kHorizonMicroseconds)
            return inWindow;
        const std::uint64_t after = Slot(canonical, awaited - 1, before & kTimeMask);
        if (slot.compare_exchange_weak(before, after, std::memory_order_relaxed))
            return true;
    }
    return false;
}
