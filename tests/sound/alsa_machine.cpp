#include "tests/sound/alsa_machine.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <thread>

namespace alsa_machine {

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr float kAudible = 0.01f; // -40 dBFS

int DataBytes(std::uint8_t status) { return (status & 0xE0) == 0xC0 ? 1 : 2; }

std::string RawDevice(int port) { return "/dev/snd/midiC0D" + std::to_string(port); }

} // namespace

bool IsHere()
{
    return access("/dev/snd/seq", R_OK | W_OK) == 0 && access(RawDevice(0).c_str(), R_OK | W_OK) == 0 &&
           access("/dev/snd/pcmC1D1c", R_OK) == 0;
}

// A virtual port's device hears nothing until it is first read: it is read at once.
RawMidi::RawMidi(int port) : m_fd(open(RawDevice(port).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC))
{
    std::uint8_t nothing;
    if (m_fd >= 0)
        (void)!read(m_fd, &nothing, 1);
}

RawMidi::~RawMidi()
{
    if (m_fd >= 0)
        close(m_fd);
}

void RawMidi::Write(const std::vector<std::uint8_t>& bytes)
{
    (void)!write(m_fd, bytes.data(), bytes.size());
}

// The kernel writes a message whose status repeats the one before without it (running
// status); the bytes read are given with every status, as they were sent.
std::vector<std::uint8_t> RawMidi::Read(std::size_t count, std::chrono::milliseconds wait)
{
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{m_fd, POLLIN, 0};
        std::uint8_t byte = 0;
        if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0 || read(m_fd, &byte, 1) != 1)
            break;
        if (byte >= 0x80) {
            m_status = byte < 0xF0 ? byte : 0;
            m_dataLeft = m_status != 0 ? DataBytes(m_status) : 0;
        } else {
            if (m_dataLeft == 0 && m_status != 0) {
                bytes.push_back(m_status);
                m_dataLeft = DataBytes(m_status);
            }
            if (m_dataLeft > 0)
                --m_dataLeft;
        }
        bytes.push_back(byte);
    }
    return bytes;
}

LoopbackRecording::LoopbackRecording()
{
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "plughw:1,1", SND_PCM_STREAM_CAPTURE, 0) < 0)
        return;
    // 10 ms periods: a sound is heard within one of them.
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_FLOAT, SND_PCM_ACCESS_RW_INTERLEAVED, kChannels, kRate, 1,
                           40000) < 0 ||
        snd_pcm_start(pcm) < 0) {
        snd_pcm_close(pcm);
        return;
    }
    m_pcm = pcm;
}

LoopbackRecording::~LoopbackRecording()
{
    if (m_pcm)
        snd_pcm_close(static_cast<snd_pcm_t*>(m_pcm));
}

bool LoopbackRecording::HearsSound(std::chrono::milliseconds wait)
{
    auto* pcm = static_cast<snd_pcm_t*>(m_pcm);
    if (!pcm)
        return false;
    float samples[480 * kChannels];
    for (long read = 0; read < kRate * wait.count() / 1000;) {
        const snd_pcm_sframes_t got = snd_pcm_readi(pcm, samples, 480);
        if (got < 0) {
            if (snd_pcm_recover(pcm, int(got), 1) < 0)
                return false;
            snd_pcm_start(pcm);
            continue;
        }
        for (long i = 0; i < got * kChannels; ++i)
            if (std::fabs(samples[i]) > kAudible)
                return true;
        read += got;
    }
    return false;
}

void Plug(Card card, bool plugged)
{
    const std::string driver = card == Card::Loopback ? "snd_aloop" : "snd_virmidi";
    std::ofstream(("/sys/bus/platform/drivers/" + driver + (plugged ? "/bind" : "/unbind")).c_str())
        << driver << ".0";
}

SequencerListener::SequencerListener()
{
    if (snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        m_seq = nullptr;
        return;
    }
    snd_seq_set_client_name(m_seq, "test listener");
    m_port = snd_seq_create_simple_port(m_seq, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    snd_midi_event_new(16, &m_decoder);
    snd_midi_event_no_status(m_decoder, 1);
    snd_seq_nonblock(m_seq, 1);
}

SequencerListener::~SequencerListener()
{
    if (m_decoder)
        snd_midi_event_free(m_decoder);
    if (m_seq)
        snd_seq_close(m_seq);
}

int SequencerListener::ClientNamed(const std::string& name)
{
    snd_seq_client_info_t* info = nullptr;
    snd_seq_client_info_alloca(&info);
    snd_seq_client_info_set_client(info, -1);
    while (m_seq && snd_seq_query_next_client(m_seq, info) >= 0) {
        if (name == snd_seq_client_info_get_name(info))
            return snd_seq_client_info_get_client(info);
    }
    return -1;
}

bool SequencerListener::ListenTo(int client, int port)
{
    return m_seq && snd_seq_connect_from(m_seq, m_port, client, port) >= 0;
}

bool SequencerListener::Connect(int fromClient, int fromPort, int toClient, int toPort)
{
    snd_seq_port_subscribe_t* subscription = nullptr;
    snd_seq_port_subscribe_alloca(&subscription);
    const snd_seq_addr_t sender{std::uint8_t(fromClient), std::uint8_t(fromPort)};
    const snd_seq_addr_t destination{std::uint8_t(toClient), std::uint8_t(toPort)};
    snd_seq_port_subscribe_set_sender(subscription, &sender);
    snd_seq_port_subscribe_set_dest(subscription, &destination);
    return m_seq && snd_seq_subscribe_port(m_seq, subscription) >= 0;
}

std::vector<std::uint8_t> SequencerListener::Read(std::size_t count, std::chrono::milliseconds wait)
{
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (m_seq && bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        snd_seq_event_t* event = nullptr;
        if (snd_seq_event_input(m_seq, &event) < 0 || !event) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        std::uint8_t message[16];
        const long length = snd_midi_event_decode(m_decoder, message, sizeof message, event);
        if (length > 0)
            bytes.insert(bytes.end(), message, message + length);
    }
    return bytes;
}

} // namespace alsa_machine
