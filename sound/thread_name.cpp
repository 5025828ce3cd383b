#include "sound/thread_name.h"

#include <pthread.h>

#include <cstring>

void NameThisThread(const char* name)
{
    constexpr std::size_t kMostCharacters = 15;
    char kept[kMostCharacters + 1] = {};
    std::strncpy(kept, name, kMostCharacters);
    pthread_setname_np(pthread_self(), kept);
}
