#include "sound/thread_name.h"

#include <pthread.h>

#include <cstring>

void NameThisThread(const char* name)
{
    constexpr std::size_t kLongest = 15;
    char cut[kLongest + 1] = {};
    std::strncpy(cut, name, kLongest);
    pthread_setname_np(pthread_self(), cut);
}
