#include "sound/thread_name.h"

#include <jack/jack.h>
#include <jack/thread.h>
#include <pthread.h>

#include <cstring>
#include <mutex>
#include <new>

namespace {

// What libjack asked a new thread to run.
struct JackThreadStart {
    void* (*function)(void*);
    void* argument;
};

void* RunNamedJackThread(void* started)
{
    const JackThreadStart start = *static_cast<JackThreadStart*>(started);
    delete static_cast<JackThreadStart*>(started);
    NameThisThread("varnek-jack");
    return start.function(start.argument);
}

// The thread names itself before it runs anything of libjack's, which may name it otherwise.
int CreateJackThread(pthread_t* thread, const pthread_attr_t* attributes, void* (*function)(void*),
                     void* argument)
{
    auto* start = new (std::nothrow) JackThreadStart{function, argument};
    if (!start)
        return pthread_create(thread, attributes, function, argument);
    const int result = pthread_create(thread, attributes, RunNamedJackThread, start);
    if (result != 0)
        delete start;
    return result;
}

} // namespace

void NameThisThread(const char* name)
{
    constexpr std::size_t kMostCharacters = 15;
    char kept[kMostCharacters + 1] = {};
    std::strncpy(kept, name, kMostCharacters);
    pthread_setname_np(pthread_self(), kept);
}

void NameJackThreads()
{
    static std::once_flag once;
    std::call_once(once, [] { jack_set_thread_creator(CreateJackThread); });
}
