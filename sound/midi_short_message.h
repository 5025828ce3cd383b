#pragma once
// A packed short message (status | first data byte << 8 | second data byte << 16) taken apart
// into the bytes that go on the wire, with the length its status byte calls for.

#include <cstdint>

#include <array>
#include <cstddef>

struct MidiShortMessage {
    std::array<std::uint8_t, 3> bytes{};
    std::size_t length = 0; // 0: nothing that can be sent on its own

    // A program change is two bytes on the wire although its packed form has room for three,
    // so the length comes from the status byte. A message without a status byte (running
    // status), a system-exclusive byte or a data byte with its top bit set has length 0.
    static MidiShortMessage Unpack(std::uint32_t packed);
    // The message `bytes` hold, if they are exactly one whole message: length 0 for too few
    // or too many bytes, or a data byte with its top bit set.
    static MidiShortMessage Read(const std::uint8_t* bytes, std::size_t length);
    // Packed again, with the bytes its length leaves unused as 0.
    std::uint32_t Pack() const;

    bool IsValid() const { return length != 0; }
    std::uint8_t Status() const { return bytes[0]; }
    std::uint8_t Kind() const { return bytes[0] & 0xF0; }
    int Channel() const { return bytes[0] & 0x0F; }
    std::uint8_t Data1() const { return bytes[1]; }
    std::uint8_t Data2() const { return bytes[2]; }
};
