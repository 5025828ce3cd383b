#include "sound/jack_server_watch.h"

#include "sound/abandon.h"
#include "sound/jack_port_names.h"
#include "sound/library_logs.h"

#include <jack/jack.h>

#include <mutex>

std::shared_ptr<JackServerWatch> JackServerWatch::Connect()
{
    static std::mutex connecting;
    static std::weak_ptr<JackServerWatch> inUse;
    std::lock_guard lock(connecting);
    if (auto watch = inUse.lock(); watch && !watch->ServerGone())
        return watch;
    SilenceSoundLibraryLogs();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("Varnek-watch", JackNoStartServer, &status);
    if (!client)
        return nullptr;
    std::shared_ptr<JackServerWatch> watch(new JackServerWatch(client));
    inUse = watch;
    return watch;
}

std::vector<std::string> JackServerWatch::MidiInputPorts() const
{
    return ServerGone() ? std::vector<std::string>{} : JackMidiPorts(m_client, JackPortIsInput);
}

std::vector<std::string> JackServerWatch::ConnectionsOf(const std::string& portName) const
{
    return ServerGone() ? std::vector<std::string>{} : JackConnectionsOf(m_client, portName);
}

JackServerWatch::JackServerWatch(jack_client_t* client)
    : m_client(client), m_target(std::make_unique<CallbackTarget<JackServerWatch>>(this)),
      m_sampleRate(jack_get_sample_rate(client)), m_bufferSize(jack_get_buffer_size(client))
{
    // The shutdown notice arrives on libjack's own thread even though this client is never
    // activated.
    jack_on_info_shutdown(m_client, &JackServerWatch::OnServerShutdown, m_target.get());
}

JackServerWatch::~JackServerWatch()
{
    m_target->LetGo();
    if (ServerGone()) {
        Abandon(m_client);
        Abandon(m_target.release());
    } else {
        jack_client_close(m_client);
    }
}

void JackServerWatch::OnServerShutdown(jack_status_t, const char*, void* target)
{
    static_cast<CallbackTarget<JackServerWatch>*>(target)->Reach(
        [](JackServerWatch& watch) { watch.m_serverGone.store(true); });
}
