#pragma once
// Who holds each key: the one record that the panel's keys (the mouse, the computer keyboard)
// and the MIDI inputs (each channel of each input) share. A key sounds while any source holds
// it; the first to press it sends its note-on, and the last to let go sends the note-off, to
// the channel, note and route that note-on used, whatever has changed since. The panel's keys
// are drawn from this record.
//
// Lock-free, so an input may play on a real-time thread. Each source is pressed and let go by
// one thread only (the panel's, or its input's own), which is what makes the note-on always
// go out before its note-off: the first holder has sent its note-on before it lets go, and the
// last holder lets go after it.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

class HeldKeys {
public:
    static constexpr int kKeyCount = 128; // every MIDI note; the panel shows 29 to 76
    static constexpr int kInputCount = 2; // the sequencer's and JACK's
    static constexpr int kChannels = 16;

    // The mouse, the computer keyboard, or one channel of one MIDI input.
    class Source {
    public:
        static constexpr Source Mouse() { return Source(0); }
        static constexpr Source ComputerKey() { return Source(1); }
        static constexpr Source Input(int input, int channel)
        {
            return Source(kFirstInput + kChannels * input + channel);
        }
        std::uint64_t Bit() const { return std::uint64_t(1) << m_index; }

    private:
        friend class HeldKeys;
        static constexpr int kFirstInput = 2;
        explicit constexpr Source(int index) : m_index(index) {}
        int m_index;
    };

    // Where a note-on went: its channel (0-based, as in the status byte), note and route. A key
    // held without sounding (a left-hand note naming a chord) has none.
    struct Sounding {
        std::uint8_t channel = 0;
        std::uint8_t note = 0;
        std::uintptr_t route = 0;
        bool sounds = false;
        bool operator==(const Sounding&) const = default;
    };

    // `source` holds `key`; true when the key was up, and the caller then sends the note-on
    // and records it with Sounded before it lets go.
    bool Press(int key, Source source);
    void Sounded(int key, Sounding sounding);
    // `source` lets go of `key`: the note-on to end when that leaves the key up, else nothing.
    std::optional<Sounding> LetGo(int key, Source source);

    bool IsDown(int key) const { return Holders(key) != 0; }
    bool IsHeldBy(int key, Source source) const { return (Holders(key) & source.Bit()) != 0; }
    // Whether any channel of `input` holds `key`.
    bool IsHeldByInput(int key, int input) const { return (Holders(key) & InputBits(input)) != 0; }
    static std::uint64_t InputBits(int input);

private:
    struct Key {
        std::atomic<std::uint64_t> holders{0};
        std::atomic<std::uint32_t> sounding{0}; // channel, note and whether it sounds, packed
        std::atomic<std::uintptr_t> route{0};
    };
    static bool IsKey(int key) { return key >= 0 && key < kKeyCount; }
    std::uint64_t Holders(int key) const;

    std::array<Key, kKeyCount> m_keys{};
};
