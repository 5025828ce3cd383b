#pragma once
// Which of the 48 piano keys are down, who holds each (the mouse, the computer keyboard, a MIDI
// controller) and the channel and note its note-on went out with: the one place that knows why
// a key sounds, so that whatever lets it go ends exactly the note that started.

#include <array>
#include <cstdint>
#include <optional>

class KeyboardState {
public:
    static constexpr int kKeyCount = 48;
    static constexpr int kLowestNote = 29; // F1, key 0

    enum Source : std::uint8_t {
        kMouse = 1 << 0,
        kComputerKey = 1 << 1,
        kMidiInput = 1 << 2,
    };

    // Where a note-on went: its channel (0-based, as in the status byte) and note number.
    struct Sounding {
        std::uint8_t channel = 0;
        std::uint8_t note = 0;
        bool operator==(const Sounding&) const = default;
    };

    // `source` holds the key. A key that was up goes down with the note-on `sounding` sent
    // for it, and the result is true; a key already down sounds on and only counts the
    // source among those that hold it.
    bool Press(int key, Source source, Sounding sounding);
    // The key goes up, whoever held it: the note-on it sounded with, for its note-off, or
    // nothing when it was up.
    std::optional<Sounding> Release(int key);
    // `source` lets go of the key; true when that leaves it up.
    bool Let(int key, Source source);
    // The key is up again without a note-off: it never sounded where it is drawn anew.
    void Forget(int key) { m_keys[Index(key)] = {}; }

    bool IsDown(int key) const { return m_keys[Index(key)].sources != 0; }
    bool IsHeldBy(int key, Source source) const { return (m_keys[Index(key)].sources & source) != 0; }
    bool IsHeldOnlyBy(int key, Source source) const { return m_keys[Index(key)].sources == source; }

private:
    struct Key {
        std::uint8_t sources = 0; // none while the key is up
        Sounding sounding;
    };
    static std::size_t Index(int key) { return static_cast<std::size_t>(key); }

    std::array<Key, kKeyCount> m_keys{};
};
