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

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace alsa_machine
