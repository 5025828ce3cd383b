#include "sound/jack_port_names.h"

#include <jack/jack.h>

#include <map>
#include <set>

namespace {
std::string ClientOf(const std::string& port) { return port.substr(0, port.find(':')); }

std::vector<std::string> TakeNames(const char** names)
{
    std::vector<std::string> taken;
    for (const char** name = names; name && *name; ++name)
        taken.emplace_back(*name);
    jack_free(names);
    return taken;
}
} // namespace

std::vector<std::string> JackMidiPorts(jack_client_t* client, unsigned long flags)
{
    return TakeNames(jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags));
}

std::vector<std::string> JackConnectionsOf(jack_client_t* client, const std::string& portName)
{
    jack_port_t* const port = jack_port_by_name(client, portName.c_str());
    return port ? TakeNames(jack_port_get_all_connections(client, port)) : std::vector<std::string>{};
}

std::vector<std::string> JackLoopsInto(jack_client_t* client, const std::vector<std::string>& outputs,
                                       const std::string& input)
{
    std::map<std::string, std::vector<std::string>> fedByClient; // client -> what its outputs feed
    for (const std::string& port : JackMidiPorts(client, JackPortIsOutput))
        for (std::string& fed : JackConnectionsOf(client, port))
            fedByClient[ClientOf(port)].push_back(std::move(fed));
    std::vector<std::string> waiting;
    for (const std::string& output : outputs)
        for (const std::string& fed : JackConnectionsOf(client, output))
            waiting.push_back(ClientOf(fed));
    std::set<std::string> reached;
    const std::string ours = ClientOf(input);
    while (!waiting.empty()) {
        const std::string next = waiting.back();
        waiting.pop_back();
        if (next == ours || !reached.insert(next).second)
            continue;
        for (const std::string& fed : fedByClient[next])
            waiting.push_back(ClientOf(fed));
    }
    std::vector<std::string> closing;
    for (std::string& source : JackConnectionsOf(client, input))
        if (reached.count(ClientOf(source)))
            closing.push_back(std::move(source));
    return closing;
}
