#include "sound/held_keys.h"

namespace {
constexpr std::uint32_t kSounds = 1u << 16;
} // namespace

std::uint64_t HeldKeys::InputBits(int input)
{
    const int first = Source::kFirstInput + kChannels * input;
    return ((std::uint64_t(1) << kChannels) - 1) << first;
}

std::uint64_t HeldKeys::Holders(int key) const
{
    return IsKey(key) ? m_keys[std::size_t(key)].holders.load(std::memory_order_acquire) : 0;
}

bool HeldKeys::Press(int key, Source source)
{
    if (!IsKey(key))
        return false;
    const std::uint64_t before =
        m_keys[std::size_t(key)].holders.fetch_or(source.Bit(), std::memory_order_acq_rel);
    return before == 0;
}

// Written by the first holder, which lets go only afterwards: whoever lets go last reads it
// after that.
void HeldKeys::Sounded(int key, Sounding sounding)
{
    if (!IsKey(key))
        return;
    Key& held = m_keys[std::size_t(key)];
    held.sounding.store(std::uint32_t(sounding.channel) | std::uint32_t(sounding.note) << 8 |
                            (sounding.sounds ? kSounds : 0),
                        std::memory_order_relaxed);
    held.route.store(sounding.route, std::memory_order_relaxed);
}

std::optional<HeldKeys::Sounding> HeldKeys::LetGo(int key, Source source)
{
    if (!IsKey(key))
        return std::nullopt;
    Key& held = m_keys[std::size_t(key)];
    const std::uint64_t before = held.holders.fetch_and(~source.Bit(), std::memory_order_acq_rel);
    if (before != source.Bit())
        return std::nullopt; // it did not hold the key, or others still do
    const std::uint32_t packed = held.sounding.load(std::memory_order_relaxed);
    return Sounding{std::uint8_t(packed & 0x0F), std::uint8_t((packed >> 8) & 0x7F),
                    held.route.load(std::memory_order_relaxed), (packed & kSounds) != 0};
}
