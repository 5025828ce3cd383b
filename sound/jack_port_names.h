#pragma once
// The names JACK gives as null-terminated lists that the caller frees, as vectors: the ports
// a client sees, and what a port is connected to; and, from those, where a loop closes.

#include <jack/types.h>

#include <string>
#include <vector>

// Full names ("client:port") of the MIDI ports with `flags` (JackPortIsInput, ...).
std::vector<std::string> JackMidiPorts(jack_client_t* client, unsigned long flags);
// Full names of the ports connected to `portName`; none when it is not there.
std::vector<std::string> JackConnectionsOf(jack_client_t* client, const std::string& portName);
// The ports connected into `input` that what leaves `outputs` can reach again, each client on
// the way taken to pass what comes in at any of its inputs out of all its outputs, as a
// MIDI-thru client, a DAW track or another Varnek may: none where no loop can close.
std::vector<std::string> JackLoopsInto(jack_client_t* client, const std::vector<std::string>& outputs,
                                       const std::string& input);
