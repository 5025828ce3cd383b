#include "sound/alsa_pcm_stream.h"

#include "sound/library_logs.h"
#include "sound/realtime_priority.h"
#include "sound/thread_name.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr int kChannels = 2;
// As long as the other streams keep playing silence before they rest.
constexpr double kRestAfterSeconds = 3;
// Far longer than a period: a card that lets this go by without taking a period has stalled.
constexpr int kWriteWaitMilliseconds = 100;
// How often a stream whose card went looks for one again.
constexpr auto kLookForACardInterval = std::chrono::milliseconds(250);

// The playback devices of one card, through the plug layer: "plughw:1,0".
void AddPlaybackDevicesOf(int card, std::vector<std::string>& devices)
{
    snd_ctl_t* control = nullptr;
    if (snd_ctl_open(&control, ("hw:" + std::to_string(card)).c_str(), 0) < 0)
        return;
    snd_pcm_info_t* info = nullptr;
    snd_pcm_info_malloc(&info);
    int device = -1;
    while (info && snd_ctl_pcm_next_device(control, &device) == 0 && device >= 0) {
        snd_pcm_info_set_device(info, unsigned(device));
        snd_pcm_info_set_subdevice(info, 0);
        snd_pcm_info_set_stream(info, SND_PCM_STREAM_PLAYBACK);
        if (snd_ctl_pcm_info(control, info) >= 0)
            devices.push_back("plughw:" + std::to_string(card) + "," + std::to_string(device));
    }
    snd_pcm_info_free(info);
    snd_ctl_close(control);
}

bool IsSilent(const std::vector<float>& samples)
{
    return std::all_of(samples.begin(), samples.end(), [](float sample) { return sample == 0.0f; });
}

} // namespace

AlsaPcmStream::AlsaPcmStream(Buffer wanted, Renderer render) : m_wanted(wanted), m_render(std::move(render))
{
}

AlsaPcmStream::~AlsaPcmStream()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_pcm)
        snd_pcm_close(m_pcm);
}

std::vector<std::string> AlsaPcmStream::PlaybackDevices()
{
    std::vector<std::string> devices;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0)
        AddPlaybackDevicesOf(card, devices);
    devices.push_back("default");
    return devices;
}

bool AlsaPcmStream::Open()
{
    SilenceSoundLibraryLogs();
    m_pcm = OpenFirstDevice();
    if (!m_pcm)
        return false;
    m_playing = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

_snd_pcm* AlsaPcmStream::OpenFirstDevice()
{
    for (const std::string& device : PlaybackDevices()) {
        if (snd_pcm_t* pcm = OpenDevice(device))
            return pcm;
    }
    return nullptr;
}

// A device that another program holds, or that cannot play float stereo near our rate and
// period even through the plug layer, is passed over.
_snd_pcm* AlsaPcmStream::OpenDevice(const std::string& device)
{
    snd_pcm_t* pcm = nullptr;
    // A device in use is passed over rather than waited for; the writes then wait for room
    // in the card's buffer themselves.
    if (snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return nullptr;
    snd_pcm_hw_params_t* hardware = nullptr;
    snd_pcm_hw_params_alloca(&hardware);
    unsigned rate = unsigned(m_wanted.sampleRate);
    snd_pcm_uframes_t period = snd_pcm_uframes_t(m_wanted.periodFrames);
    unsigned periods = unsigned(m_wanted.periods);
    snd_pcm_uframes_t buffer = 0;
    const bool configured = snd_pcm_hw_params_any(pcm, hardware) >= 0 &&
                            snd_pcm_hw_params_set_rate_resample(pcm, hardware, 1) >= 0 &&
                            snd_pcm_hw_params_set_access(pcm, hardware, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                            snd_pcm_hw_params_set_format(pcm, hardware, SND_PCM_FORMAT_FLOAT) >= 0 &&
                            snd_pcm_hw_params_set_channels(pcm, hardware, kChannels) >= 0 &&
                            snd_pcm_hw_params_set_rate_near(pcm, hardware, &rate, nullptr) >= 0 &&
                            snd_pcm_hw_params_set_period_size_near(pcm, hardware, &period, nullptr) >= 0 &&
                            snd_pcm_hw_params_set_periods_near(pcm, hardware, &periods, nullptr) >= 0 &&
                            snd_pcm_hw_params(pcm, hardware) >= 0 &&
                            snd_pcm_hw_params_get_period_size(hardware, &period, nullptr) >= 0 &&
                            snd_pcm_hw_params_get_buffer_size(hardware, &buffer) >= 0;
    snd_pcm_sw_params_t* software = nullptr;
    snd_pcm_sw_params_alloca(&software);
    // Playback starts once the buffer is full, and the writes wake for every period.
    const bool started = configured && snd_pcm_sw_params_current(pcm, software) >= 0 &&
                         snd_pcm_sw_params_set_start_threshold(pcm, software, buffer) >= 0 &&
                         snd_pcm_sw_params_set_avail_min(pcm, software, period) >= 0 &&
                         snd_pcm_sw_params(pcm, software) >= 0;
    if (!started || rate != unsigned(m_wanted.sampleRate)) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    m_period.assign(std::size_t(period) * kChannels, 0.0f);
    std::lock_guard lock(m_mutex);
    m_granted = {int(period), int(buffer / period), double(rate)};
    m_device = device;
    return pcm;
}

void AlsaPcmStream::Wake()
{
    m_soundPending = true;
    if (m_resting.load()) {
        std::lock_guard lock(m_mutex);
        m_wake.notify_all();
    }
}

AlsaPcmStream::Buffer AlsaPcmStream::Granted() const
{
    std::lock_guard lock(m_mutex);
    return m_granted;
}

std::string AlsaPcmStream::Device() const
{
    std::lock_guard lock(m_mutex);
    return m_device;
}

void AlsaPcmStream::Run()
{
    NameThisThread("varnek-synth-rt");
    RaiseThisThreadToRealtimePriority();
    while (true) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
        }
        if (!m_pcm)
            WaitForACard();
        else if (!PlayPeriod())
            Lost();
        else if (m_silentFrames >= long(kRestAfterSeconds * m_wanted.sampleRate))
            Rest();
    }
}

// Renders one period and writes it, waiting while the card's buffer is full; false when the
// card has gone. An underrun only starts the card again.
bool AlsaPcmStream::PlayPeriod()
{
    m_soundPending = false;
    const int frames = int(m_period.size() / kChannels);
    m_render(m_period.data(), frames);
    m_silentFrames = IsSilent(m_period) ? m_silentFrames + frames : 0;
    const float* samples = m_period.data();
    for (int left = frames; left > 0;) {
        const snd_pcm_sframes_t written = snd_pcm_writei(m_pcm, samples, snd_pcm_uframes_t(left));
        if (written < 0) {
            if (written == -EAGAIN)
                snd_pcm_wait(m_pcm, kWriteWaitMilliseconds);
            else if (snd_pcm_recover(m_pcm, int(written), 1) < 0)
                return false;
            continue;
        }
        left -= int(written);
        samples += written * kChannels;
    }
    return true;
}

// Stops the card until sound comes. The card may go meanwhile: it is found gone as the stream
// starts it again.
void AlsaPcmStream::Rest()
{
    snd_pcm_drop(m_pcm);
    {
        std::unique_lock lock(m_mutex);
        m_resting = true;
        m_wake.wait(lock, [this] { return m_stopping || m_soundPending.load(); });
        m_resting = false;
    }
    m_silentFrames = 0;
    if (snd_pcm_prepare(m_pcm) < 0)
        Lost();
}

void AlsaPcmStream::Lost()
{
    m_playing = false;
    snd_pcm_close(m_pcm);
    m_pcm = nullptr;
}

// Consumes what was sent meanwhile, then looks for a card again.
void AlsaPcmStream::WaitForACard()
{
    {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, kLookForACardInterval, [this] { return m_stopping; }))
            return;
    }
    m_render(m_period.data(), int(m_period.size() / kChannels));
    m_pcm = OpenFirstDevice();
    if (m_pcm) {
        m_silentFrames = 0;
        m_playing = true;
    }
}
