#include "platform/host.h"

#include <cstdlib>

namespace {
Host* g_host = nullptr;
} // namespace

Host& TheHost()
{
    if (g_host == nullptr)
        std::abort(); // the program sets its host before it creates any window
    return *g_host;
}

Host* SetHost(Host* host)
{
    Host* previous = g_host;
    g_host = host;
    return previous;
}
