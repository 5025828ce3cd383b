#pragma once
// One port of the machine opened for output through RtMidi: an ALSA sequencer port or a JACK
// MIDI input. RtMidi reports errors to a callback here, never by exception or on the terminal.

#include "sound/midi_port.h"

#include <atomic>
#include <memory>
#include <string>

class JackServerWatch;
class RtMidiOut;

enum class PortApi { Alsa, Jack };

class RtMidiOutputPort : public MidiPort {
public:
    // The client name of the ports that carry the chosen route, in the sequencer's and JACK's
    // lists, beside Varnek's own ports.
    static constexpr const char* kClientName = "Varnek Play Thru";
    // Whether a port belongs to such a client (JACK numbers clients that share a name).
    static bool IsPlayThruPort(const std::string& portName);

    // An RtMidi client for `api`, or null where that API is not available: ALSA without
    // /dev/snd/seq, JACK without a running server (`jack` tells whether one runs). Errors of
    // the client raise `errorFlag` when it is given.
    static std::unique_ptr<RtMidiOut> CreateClient(PortApi api, const JackServerWatch* jack,
                                                   std::atomic<bool>* errorFlag = nullptr);

    // Opens the port that goes by `portName` in the current list of `api`; null when there
    // is none by that name any more.
    static std::unique_ptr<RtMidiOutputPort> Open(PortApi api, const std::string& portName,
                                                  std::shared_ptr<JackServerWatch> jack);
    ~RtMidiOutputPort() override;
    RtMidiOutputPort(const RtMidiOutputPort&) = delete;
    RtMidiOutputPort& operator=(const RtMidiOutputPort&) = delete;

    bool Send(std::uint32_t message) override;
    // JACK: the server still runs and our port is still connected to the one opened (a port
    // that went away and came back is not). ALSA: the port is still listed at its address.
    bool IsConnected() const override;

private:
    RtMidiOutputPort(PortApi api, std::string portName, std::shared_ptr<JackServerWatch> jack);
    bool ServerGone() const;
    void CloseJackPort();
    void WaitJackCycles(unsigned cycles) const;

    PortApi m_api;
    std::string m_portName; // as RtMidi lists it
    std::shared_ptr<JackServerWatch> m_jack;
    std::atomic<bool> m_error{false}; // raised by RtMidi's error callback
    std::unique_ptr<RtMidiOut> m_out;
};
