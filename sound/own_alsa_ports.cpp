#include "sound/own_alsa_ports.h"

#include "sound/library_logs.h"
#include "sound/midi_short_message.h"
#include "sound/tell_user.h"
#include "sound/thread_name.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr unsigned kMidiPortType = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;

// The events a controller plays that the router takes, and the notices of unsubscription.
constexpr snd_seq_event_type_t kWantedEvents[] = {
    SND_SEQ_EVENT_NOTEON,          SND_SEQ_EVENT_NOTEOFF,           SND_SEQ_EVENT_CONTROLLER,
    SND_SEQ_EVENT_PGMCHANGE,       SND_SEQ_EVENT_CHANPRESS,         SND_SEQ_EVENT_PITCHBEND,
    SND_SEQ_EVENT_PORT_SUBSCRIBED, SND_SEQ_EVENT_PORT_UNSUBSCRIBED,
};

} // namespace

std::unique_ptr<OwnAlsaPorts> OwnAlsaPorts::Open(MidiInputRouter& router)
{
    if (access(kSequencerDevice, R_OK | W_OK) != 0)
        return nullptr;
    std::unique_ptr<OwnAlsaPorts> ports(new OwnAlsaPorts(router));
    if (!ports->Start())
        return nullptr;
    return ports;
}

bool OwnAlsaPorts::Start()
{
    SilenceSoundLibraryLogs();
    if (snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        m_seq = nullptr;
        return false;
    }
    snd_seq_set_client_name(m_seq, kClientName);
    m_clientId = snd_seq_client_id(m_seq);
    m_inputPort = snd_seq_create_simple_port(
        m_seq, kInputName, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, kMidiPortType);
    m_outputPort = snd_seq_create_simple_port(
        m_seq, kOutputName, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, kMidiPortType);
    // Clocks, active sensing and the like are not even delivered to us.
    for (const snd_seq_event_type_t type : kWantedEvents)
        snd_seq_set_client_event_filter(m_seq, type);
    // The system's announcements tell when a subscription to our input goes.
    snd_seq_connect_from(m_seq, m_inputPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    m_wakeFd = eventfd(0, EFD_CLOEXEC);
    if (m_inputPort < 0 || m_outputPort < 0 || m_wakeFd < 0 || snd_midi_event_new(16, &m_decoder) < 0 ||
        snd_midi_event_new(16, &m_encoder) < 0)
        return false;
    snd_midi_event_no_status(m_decoder, 1); // each message with its status byte
    snd_seq_nonblock(m_seq, 1);
    m_router.Attend(MidiInputRouter::kAlsaInput, [this] { Wake(); });
    m_reader = std::thread([this] { ReadIncoming(); });
    return true;
}

OwnAlsaPorts::~OwnAlsaPorts()
{
    if (m_reader.joinable()) {
        m_stopping.store(true);
        Wake();
        m_reader.join();
        m_router.Leave(MidiInputRouter::kAlsaInput);
    }
    if (m_wakeFd >= 0)
        close(m_wakeFd);
    for (snd_midi_event_t* coder : {m_decoder, m_encoder})
        if (coder)
            snd_midi_event_free(coder);
    if (m_seq)
        snd_seq_close(m_seq);
}

bool OwnAlsaPorts::Send(std::uint32_t message)
{
    const MidiShortMessage decoded = MidiShortMessage::Unpack(message);
    if (!decoded.IsValid())
        return false;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_midi_event_reset_encode(m_encoder);
    if (snd_midi_event_encode(m_encoder, decoded.bytes.data(), long(decoded.length), &event) <= 0 ||
        event.type == SND_SEQ_EVENT_NONE)
        return false;
    snd_seq_ev_set_source(&event, m_outputPort);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    return snd_seq_event_output_direct(m_seq, &event) >= 0;
}

// The input's own thread: waits for the sequencer or the stop, and plays what came in.
void OwnAlsaPorts::ReadIncoming()
{
    NameThisThread("varnek-alsa-in");
    const int count = snd_seq_poll_descriptors_count(m_seq, POLLIN);
    std::vector<pollfd> fds(std::size_t(count) + 1);
    snd_seq_poll_descriptors(m_seq, fds.data(), unsigned(count), POLLIN);
    fds.back() = {m_wakeFd, POLLIN, 0};
    while (true) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds.back().revents != 0) {
            std::uint64_t rings = 0;
            (void)!read(m_wakeFd, &rings, sizeof rings);
            m_router.Serve(MidiInputRouter::kAlsaInput);
            if (m_stopping.load())
                return;
        }
        while (PlayEvent()) {
        }
        if (m_router.TakeNoticedLoop(MidiInputRouter::kAlsaInput))
            TellUser("what Varnek sends comes back into its sequencer input \"" + std::string(kInputName) +
                     "\", a loop: what comes back that way is not played again");
    }
}

void OwnAlsaPorts::Wake()
{
    const std::uint64_t one = 1;
    (void)!write(m_wakeFd, &one, sizeof one);
}

// Plays the next event waiting; false when none is.
bool OwnAlsaPorts::PlayEvent()
{
    snd_seq_event_t* event = nullptr;
    if (snd_seq_event_input(m_seq, &event) < 0 || !event)
        return false;
    if (event->type == SND_SEQ_EVENT_PORT_SUBSCRIBED || event->type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED) {
        const snd_seq_addr_t& from = event->data.connect.sender;
        const snd_seq_addr_t& to = event->data.connect.dest;
        const bool intoOurInput = to.client == m_clientId && to.port == m_inputPort;
        if (intoOurInput || (from.client == m_clientId && from.port == m_outputPort))
            m_router.ConnectionsChanged(MidiInputRouter::kAlsaInput);
        // Our output played into our own input would play every note again, without end.
        if (event->type == SND_SEQ_EVENT_PORT_SUBSCRIBED && intoOurInput && from.client == m_clientId)
            snd_seq_disconnect_to(m_seq, m_outputPort, m_clientId, m_inputPort);
        else if (event->type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED && intoOurInput)
            m_router.EndNotes(MidiInputRouter::kAlsaInput);
        return true;
    }
    std::uint8_t bytes[16];
    const long length = snd_midi_event_decode(m_decoder, bytes, sizeof bytes, event);
    if (length > 0)
        m_router.Receive(MidiInputRouter::kAlsaInput, bytes, std::size_t(length));
    return true;
}
