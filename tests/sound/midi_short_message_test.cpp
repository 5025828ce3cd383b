#include "sound/midi_short_message.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
    std::uint32_t packed;
    std::vector<std::uint8_t> wire; // empty: not sendable
};

// clang-format off
const Case kCases[] = {
    // packed        bytes on the wire
    {0x007F3C90, {0x90, 0x3C, 0x7F}},   // note on, channel 1
    {0x00004D99, {0x99, 0x4D, 0x00}},   // note off as velocity 0, channel 10
    {0x00007BB1, {0xB1, 0x7B, 0x00}},   // all notes off, channel 2
    {0x00000FC0, {0xC0, 0x0F}},         // program change: two bytes
    {0x00000FC1, {0xC1, 0x0F}},
    {0x00004000, {}},                   // running status: no status byte
    {0x000000F0, {}},                   // system exclusive is not a short message
    {0x000000F8, {0xF8}},               // clock: one byte
    {0x00008090, {}},                   // a data byte with its top bit set
    {0x008040C0, {0xC0, 0x40}},         // beyond a program change's length nothing counts
};
// clang-format on

} // namespace

TEST(MidiShortMessage, TakesPackedMessagesApartIntoWireBytes)
{
    for (const Case& c : kCases) {
        const MidiShortMessage message = MidiShortMessage::Unpack(c.packed);
        const std::vector<std::uint8_t> wire(message.bytes.begin(), message.bytes.begin() + message.length);
        EXPECT_EQ(wire, c.wire) << std::hex << c.packed;
    }
}

TEST(MidiShortMessage, NamesKindChannelAndData)
{
    const MidiShortMessage message = MidiShortMessage::Unpack(0x005F2699);
    EXPECT_EQ(message.Kind(), 0x90);
    EXPECT_EQ(message.Channel(), 9);
    EXPECT_EQ(message.Data1(), 38);
    EXPECT_EQ(message.Data2(), 95);
}
