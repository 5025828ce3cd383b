#include "sound/midi_short_message.h"

#include <algorithm>

namespace {

// Bytes on the wire for each status byte from 0x80, by its high nibble, and for the system
// messages 0xF0..0xFF by their low nibble. 0 marks bytes that do not start a short message.
// clang-format off
constexpr std::array<std::size_t, 7> kChannelMessageLength = {
    3,   // 0x8n note off
    3,   // 0x9n note on
    3,   // 0xAn key pressure
    3,   // 0xBn control change
    2,   // 0xCn program change
    2,   // 0xDn channel pressure
    3,   // 0xEn pitch bend
};
constexpr std::array<std::size_t, 16> kSystemMessageLength = {
    0, 2, 3, 2,   // 0xF0 exclusive start, 0xF1 time code, 0xF2 song position, 0xF3 song select
    0, 0, 1, 0,   // 0xF4 and 0xF5 undefined, 0xF6 tune request, 0xF7 exclusive end
    1, 1, 1, 1,   // 0xF8 clock, 0xF9, 0xFA start, 0xFB continue
    1, 1, 1, 1,   // 0xFC stop, 0xFD, 0xFE active sensing, 0xFF reset
};
// clang-format on

std::size_t LengthForStatus(std::uint8_t status)
{
    if (status < 0x80)
        return 0;
    if (status >= 0xF0)
        return kSystemMessageLength[status & 0x0F];
    return kChannelMessageLength[(status >> 4) - 8];
}

} // namespace

MidiShortMessage MidiShortMessage::Unpack(std::uint32_t packed)
{
    MidiShortMessage message;
    message.bytes = {std::uint8_t(packed & 0xFF), std::uint8_t((packed >> 8) & 0xFF),
                     std::uint8_t((packed >> 16) & 0xFF)};
    message.length = LengthForStatus(message.bytes[0]);
    for (std::size_t i = 1; i < message.length; ++i) {
        if (message.bytes[i] & 0x80)
            message.length = 0;
    }
    return message;
}

MidiShortMessage MidiShortMessage::Read(const std::uint8_t* bytes, std::size_t length)
{
    if (length == 0 || length > 3 || LengthForStatus(bytes[0]) != length)
        return {};
    MidiShortMessage candidate;
    std::copy(bytes, bytes + length, candidate.bytes.begin());
    candidate.length = length;
    return Unpack(candidate.Pack());
}

std::uint32_t MidiShortMessage::Pack() const
{
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < length; ++i)
        packed |= std::uint32_t(bytes[i]) << (8 * i);
    return packed;
}
