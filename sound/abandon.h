#pragma once
// What belongs to a JACK server that has gone is never closed: RtMidi would wait a second for a
// process cycle that never comes and then talk to the dead server, and libjack crashes closing
// such a client once another one has connected to a new server. These things are few, one set
// per server that goes away. Their list is made on the heap and never destroyed, so that nothing
// closes them at exit either; it stays reachable, so leak checkers do not count them.

#include <mutex>
#include <utility>
#include <vector>

template <typename Thing> void Abandon(Thing thing)
{
    static std::mutex mutex;
    static auto* const abandoned = new std::vector<Thing>();
    std::lock_guard lock(mutex);
    abandoned->push_back(std::move(thing));
}
