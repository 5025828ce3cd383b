#include "sound/own_jack_ports.h"

#include "sound/abandon.h"
#include "sound/jack_port_names.h"
#include "sound/library_logs.h"
#include "sound/midi_short_message.h"
#include "sound/rt_midi_output_port.h"
#include "sound/tell_user.h"
#include "sound/thread_name.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

std::unique_ptr<OwnJackPorts> OwnJackPorts::Open(MidiInputRouter& router)
{
    std::unique_ptr<OwnJackPorts> ports(new OwnJackPorts(router));
    if (!ports->Start())
        return nullptr;
    return ports;
}

OwnJackPorts::OwnJackPorts(MidiInputRouter& router) : m_router(router) {}

bool OwnJackPorts::Start()
{
    SilenceSoundLibraryLogs();
    jack_status_t status{};
    m_client = jack_client_open(kClientName, JackNoStartServer, &status);
    if (!m_client)
        return false;
    m_input = jack_port_register(m_client, kInputName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    m_output = jack_port_register(m_client, kOutputName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!m_input || !m_output)
        return false;
    m_inputName = jack_port_name(m_input);
    jack_set_process_callback(m_client, &OwnJackPorts::OnProcess, m_target.get());
    jack_set_port_connect_callback(m_client, &OwnJackPorts::OnConnect, m_target.get());
    jack_on_info_shutdown(m_client, &OwnJackPorts::OnShutdown, m_target.get());
    m_router.SetCycle(MidiInputRouter::kJackInput,
                      std::chrono::microseconds(1'000'000LL * jack_get_buffer_size(m_client) /
                                                std::max<jack_nframes_t>(1, jack_get_sample_rate(m_client))));
    m_router.SetLoopPossible(MidiInputRouter::kJackInput, false); // connected to nothing yet
    m_router.Attend(MidiInputRouter::kJackInput, [this] { m_wake.Ring(); });
    m_player = std::thread([this] { PlayIncoming(); });
    return jack_activate(m_client) == 0;
}

// A client whose server has gone is left as it is, with the target of its callbacks: closing it
// would talk to the dead server.
OwnJackPorts::~OwnJackPorts()
{
    if (m_client && !ServerGone())
        jack_deactivate(m_client);
    m_target->LetGo();
    m_stopping.store(true);
    m_wake.Ring();
    if (m_player.joinable()) {
        m_player.join();
        m_router.Leave(MidiInputRouter::kJackInput);
    }
    if (m_client && ServerGone()) {
        Abandon(m_client);
        Abandon(m_target.release());
    } else if (m_client) {
        jack_client_close(m_client);
    }
}

bool OwnJackPorts::Send(std::uint32_t message) { return !ServerGone() && m_outgoing.Push(message); }

int OwnJackPorts::OnProcess(jack_nframes_t frames, void* target)
{
    static_cast<Target*>(target)->Reach([frames](OwnJackPorts& ports) { ports.Process(frames); });
    return 0;
}

void OwnJackPorts::Process(jack_nframes_t frames)
{
    if (m_cycleThreadUnnamed) {
        NameThisThread("varnek-midi-rt");
        m_cycleThreadUnnamed = false;
    }
    void* in = jack_port_get_buffer(m_input, frames);
    const jack_nframes_t count = jack_midi_get_event_count(in);
    bool arrived = false;
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, in, i) != 0)
            continue;
        const MidiShortMessage message = MidiShortMessage::Read(event.buffer, event.size);
        if (message.IsValid() && message.Status() < 0xF0)
            arrived = m_incoming.Push(message.Pack()) || arrived;
    }
    if (arrived)
        m_wake.Ring();

    // What the port's buffer cannot take in this cycle leaves in the next.
    void* out = jack_port_get_buffer(m_output, frames);
    jack_midi_clear_buffer(out);
    m_outgoing.Drain([out](std::uint32_t packed) {
        const MidiShortMessage message = MidiShortMessage::Unpack(packed);
        return jack_midi_event_write(out, 0, message.bytes.data(), message.length) == 0;
    });
}

void OwnJackPorts::OnConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* target)
{
    static_cast<Target*>(target)->Reach([=](OwnJackPorts& ports) { ports.Connected(a, b, connected); });
}

void OwnJackPorts::Connected(jack_port_id_t a, jack_port_id_t b, int connected)
{
    jack_port_t* const from = jack_port_by_id(m_client, a);
    jack_port_t* const to = jack_port_by_id(m_client, b);
    if (from == m_input || to == m_input || from == m_output || to == m_output)
        m_router.ConnectionsChanged(MidiInputRouter::kJackInput);
    // Undone or looked into on the player's thread: no server calls from here.
    if (connected && from == m_output && to == m_input)
        m_looped.store(true);
    else if (!connected && (from == m_input || to == m_input))
        m_inputLost.store(true);
    m_graphChanged.store(true);
    m_wake.Ring();
}

void OwnJackPorts::OnShutdown(jack_status_t, const char*, void* target)
{
    static_cast<Target*>(target)->Reach([](OwnJackPorts& ports) {
        ports.m_serverGone.store(true);
        ports.m_wake.Ring();
    });
}

// The input's own thread: what came in plays in order, then, if a controller was unplugged or
// the server went, what it still held ends.
void OwnJackPorts::PlayIncoming()
{
    NameThisThread("varnek-jack-in");
    while (true) {
        m_wake.Wait();
        m_incoming.Drain([this](std::uint32_t packed) {
            const MidiShortMessage message = MidiShortMessage::Unpack(packed);
            m_router.Receive(MidiInputRouter::kJackInput, message.bytes.data(), message.length);
        });
        // Our output played into our own input would play every note again, without end.
        if (m_looped.exchange(false))
            jack_disconnect(m_client, jack_port_name(m_output), jack_port_name(m_input));
        if (m_inputLost.exchange(false) || (ServerGone() && !m_stopping.load()))
            m_router.EndNotes(MidiInputRouter::kJackInput);
        if (m_graphChanged.exchange(false))
            m_router.SetLoopPossible(MidiInputRouter::kJackInput,
                                     !JackLoopsInto(m_client, OutputsOfOurs(), m_inputName).empty());
        m_router.Serve(MidiInputRouter::kJackInput);
        if (m_router.TakeNoticedLoop(MidiInputRouter::kJackInput))
            TellLoop();
        if (m_stopping.load())
            return;
    }
}

// Names the connections through which what Varnek sends comes back.
void OwnJackPorts::TellLoop()
{
    std::vector<std::string> closing = JackLoopsInto(m_client, OutputsOfOurs(), m_inputName);
    if (closing.empty())
        closing = JackConnectionsOf(m_client, m_inputName);
    std::string names;
    for (const std::string& source : closing)
        names += (names.empty() ? "" : ", ") + source;
    TellUser("what Varnek sends comes back into " + m_inputName + " from " + names +
             ", a loop: what comes back that way is not played again");
}

// Our output and the ports through which Play Thru sends.
std::vector<std::string> OwnJackPorts::OutputsOfOurs() const
{
    std::vector<std::string> ours{jack_port_name(m_output)};
    for (std::string& port : JackMidiPorts(m_client, JackPortIsOutput))
        if (RtMidiOutputPort::IsPlayThruPort(port))
            ours.push_back(std::move(port));
    return ours;
}
