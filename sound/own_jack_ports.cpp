#include "sound/own_jack_ports.h"

#include "sound/abandon.h"
#include "sound/hidden_from_thread_sanitizer.h"
#include "sound/library_logs.h"
#include "sound/midi_short_message.h"
#include "sound/thread_name.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <array>

namespace {

// A message in the queues: its length, then up to three bytes.
using Record = std::array<std::uint8_t, 4>;
// Far more than a controller sends in a cycle, and every key of the panel at once.
constexpr std::size_t kQueueBytes = 4096 * sizeof(Record);

} // namespace

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
    m_incoming = jack_ringbuffer_create(kQueueBytes);
    m_outgoing = jack_ringbuffer_create(kQueueBytes);
    m_input = jack_port_register(m_client, kInputName, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    m_output = jack_port_register(m_client, kOutputName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!m_incoming || !m_outgoing || !m_input || !m_output)
        return false;
    m_inputName = jack_port_name(m_input);
    jack_set_process_callback(m_client, &OwnJackPorts::OnProcess, m_target.get());
    jack_set_port_connect_callback(m_client, &OwnJackPorts::OnConnect, m_target.get());
    jack_on_info_shutdown(m_client, &OwnJackPorts::OnShutdown, m_target.get());
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
    for (jack_ringbuffer_t* queue : {m_incoming, m_outgoing})
        if (queue)
            jack_ringbuffer_free(queue);
}

bool OwnJackPorts::Send(std::uint32_t message)
{
    const MidiShortMessage decoded = MidiShortMessage::Unpack(message);
    if (!decoded.IsValid() || ServerGone() || jack_ringbuffer_write_space(m_outgoing) < sizeof(Record))
        return false;
    const Record record = {std::uint8_t(decoded.length), decoded.bytes[0], decoded.bytes[1],
                           decoded.bytes[2]};
    const HiddenFromThreadSanitizer hidden;
    jack_ringbuffer_write(m_outgoing, reinterpret_cast<const char*>(record.data()), sizeof record);
    return true;
}

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
        if (jack_midi_event_get(&event, in, i) != 0 || event.size == 0 || event.size > 3 ||
            event.buffer[0] >= 0xF0 || jack_ringbuffer_write_space(m_incoming) < sizeof(Record))
            continue;
        Record record{std::uint8_t(event.size)};
        for (std::size_t b = 0; b < event.size; ++b)
            record[b + 1] = event.buffer[b];
        const HiddenFromThreadSanitizer hidden;
        jack_ringbuffer_write(m_incoming, reinterpret_cast<const char*>(record.data()), sizeof record);
        arrived = true;
    }
    if (arrived)
        m_wake.Ring();

    void* out = jack_port_get_buffer(m_output, frames);
    jack_midi_clear_buffer(out);
    Record record;
    while (jack_ringbuffer_read_space(m_outgoing) >= sizeof record) {
        jack_ringbuffer_read(m_outgoing, reinterpret_cast<char*>(record.data()), sizeof record);
        jack_midi_event_write(out, 0, record.data() + 1, record[0]);
    }
}

void OwnJackPorts::OnConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* target)
{
    static_cast<Target*>(target)->Reach([=](OwnJackPorts& ports) { ports.Connected(a, b, connected); });
}

void OwnJackPorts::Connected(jack_port_id_t a, jack_port_id_t b, int connected)
{
    jack_port_t* const from = jack_port_by_id(m_client, a);
    jack_port_t* const to = jack_port_by_id(m_client, b);
    if (connected && from == m_output && to == m_input)
        m_looped.store(true); // undone on the player's thread: no server calls from here
    else if (!connected && (from == m_input || to == m_input))
        m_inputLost.store(true);
    else
        return;
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
        Record record;
        while (jack_ringbuffer_read_space(m_incoming) >= sizeof record) {
            jack_ringbuffer_read(m_incoming, reinterpret_cast<char*>(record.data()), sizeof record);
            m_router.Receive(MidiInputRouter::kJackInput, record.data() + 1, record[0]);
        }
        // Our output played into our own input would play every note again, without end.
        if (m_looped.exchange(false))
            jack_disconnect(m_client, jack_port_name(m_output), jack_port_name(m_input));
        if (m_inputLost.exchange(false) || (ServerGone() && !m_stopping.load()))
            m_router.EndNotes(MidiInputRouter::kJackInput);
        m_router.Serve(MidiInputRouter::kJackInput);
        if (m_stopping.load())
            return;
    }
}
