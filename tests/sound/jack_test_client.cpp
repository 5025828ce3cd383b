#include "tests/sound/jack_test_client.h"

#include "sound/library_logs.h"

#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

std::unique_ptr<JackTestClient> JackTestClient::Open(const std::string& name)
{
    SilenceSoundLibraryLogs();
    jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (!client)
        return nullptr;
    std::unique_ptr<JackTestClient> test(new JackTestClient(client));
    jack_set_process_callback(client, &JackTestClient::Process, test.get());
    if (jack_activate(client) != 0)
        return nullptr;
    return test;
}

JackTestClient::~JackTestClient() { jack_client_close(m_client); }

bool JackTestClient::AddMidiInput(const std::string& portName)
{
    jack_port_t* port =
        jack_port_register(m_client, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port)
        return false;
    std::lock_guard lock(m_portsMutex);
    m_ports.push_back(port);
    return true;
}

bool JackTestClient::RemovePort(const std::string& portName)
{
    std::lock_guard lock(m_portsMutex);
    for (auto it = m_ports.begin(); it != m_ports.end(); ++it) {
        if (jack_port_short_name(*it) == portName) {
            jack_port_unregister(m_client, *it);
            m_ports.erase(it);
            return true;
        }
    }
    return false;
}

bool JackTestClient::SendMidi(const std::string& port, const std::vector<std::uint8_t>& bytes)
{
    if (bytes.empty() || bytes.size() > m_midiMessage.size() || m_midiPending.load())
        return false;
    if (!m_midiOutput.load()) {
        jack_port_t* output =
            jack_port_register(m_client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!output)
            return false;
        m_midiOutput.store(output);
    }
    jack_port_t* const output = m_midiOutput.load();
    if (!jack_port_connected_to(output, port.c_str()) &&
        jack_connect(m_client, jack_port_name(output), port.c_str()) != 0)
        return false;
    std::copy(bytes.begin(), bytes.end(), m_midiMessage.begin());
    m_midiSize = bytes.size();
    m_midiPending.store(true);
    return true;
}

bool JackTestClient::Connect(const std::string& from, const std::string& to)
{
    if (jack_connect(m_client, from.c_str(), to.c_str()) != 0)
        return false;
    jack_port_t* const source = jack_port_by_name(m_client, from.c_str());
    for (int wait = 0; source && wait < 500; ++wait) {
        if (jack_port_connected_to(source, to.c_str()))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool JackTestClient::ListenTo(const std::string& sourcePort)
{
    const std::string name = "in" + std::to_string(m_audioInputs.size());
    jack_port_t* port =
        jack_port_register(m_client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (!port)
        return false;
    jack_deactivate(m_client);
    m_audioInputs.push_back(port);
    if (jack_activate(m_client) != 0)
        return false;
    return jack_connect(m_client, sourcePort.c_str(), jack_port_name(port)) == 0;
}

std::vector<std::string> JackTestClient::Ports(const std::string& pattern, unsigned long flags) const
{
    std::vector<std::string> names;
    const char** ports = jack_get_ports(m_client, pattern.c_str(), nullptr, flags);
    for (const char** port = ports; port && *port; ++port)
        names.emplace_back(*port);
    jack_free(ports);
    return names;
}

int JackTestClient::Process(jack_nframes_t frames, void* self)
{
    auto* client = static_cast<JackTestClient*>(self);
    if (jack_port_t* output = client->m_midiOutput.load()) {
        void* buffer = jack_port_get_buffer(output, frames);
        jack_midi_clear_buffer(buffer);
        if (client->m_midiPending.load()) {
            jack_midi_event_write(buffer, 0, client->m_midiMessage.data(), client->m_midiSize);
            client->m_midiPending.store(false);
        }
    }
    float peak = 0;
    for (jack_port_t* port : client->m_audioInputs) {
        const auto* samples = static_cast<const float*>(jack_port_get_buffer(port, frames));
        for (jack_nframes_t i = 0; i < frames; ++i)
            peak = std::max(peak, std::fabs(samples[i]));
    }
    // Raised only, so that a reset from the test's thread is never overwritten by an older peak.
    float heard = client->m_peak.load();
    while (peak > heard && !client->m_peak.compare_exchange_weak(heard, peak)) {
    }
    return 0;
}
