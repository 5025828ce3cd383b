#include "platform/midi/jack_server_watch.h"

#include "platform/midi/library_logs.h"

#include <jack/jack.h>

std::shared_ptr<JackServerWatch> JackServerWatch::Connect()
{
    SilenceSoundLibraryLogs();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("Varnek-watch", JackNoStartServer, &status);
    if (!client)
        return nullptr;
    return std::shared_ptr<JackServerWatch>(new JackServerWatch(client));
}

JackServerWatch::JackServerWatch(jack_client_t* client)
    : m_client(client), m_sampleRate(jack_get_sample_rate(client)), m_bufferSize(jack_get_buffer_size(client))
{
    // The shutdown notice arrives on libjack's own thread even though this client is never
    // activated.
    jack_on_info_shutdown(m_client, &JackServerWatch::OnServerShutdown, this);
}

JackServerWatch::~JackServerWatch()
{
    jack_client_close(m_client);
}

void JackServerWatch::OnServerShutdown(jack_status_t, const char*, void* watch)
{
    static_cast<JackServerWatch*>(watch)->m_serverGone.store(true);
}
