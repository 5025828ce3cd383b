#include "tests/sound/jack_dummy_server.h"

#include "sound/jack_server_watch.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

constexpr const char* kServerVariable = "JACK_DEFAULT_SERVER";

std::string UniqueServerName()
{
    static std::atomic<int> counter{0};
    return "varnek-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

bool WaitUntilServing(ChildProcess& server)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && !server.HasEnded()) {
        if (JackServerWatch::Connect())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Clients still connected when their server stops leave their named semaphores behind.
void RemoveLeftoverSemaphores(const std::string& serverName)
{
    const std::string prefix = "jack_sem." + std::to_string(getuid()) + "_" + serverName + "_";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            std::filesystem::remove(entry.path(), error);
    }
}

} // namespace

std::unique_ptr<JackDummyServer> JackDummyServer::Start()
{
    std::optional<std::string> previous;
    if (const char* value = std::getenv(kServerVariable))
        previous = value;
    std::string name = UniqueServerName();
    setenv(kServerVariable, name.c_str(), 1);
    // A client slowed down by a sanitizer gets two seconds before the server drops it.
    auto process = ChildProcess::Start(
        {"jackd", "-n", name, "--no-realtime", "-t", "2000", "-d", "dummy", "-r", "48000", "-p", "256"});
    std::unique_ptr<JackDummyServer> server;
    if (process)
        server.reset(new JackDummyServer(name, std::move(process), previous));
    if (server && WaitUntilServing(*server->m_process))
        return server;
    server.reset();
    if (previous)
        setenv(kServerVariable, previous->c_str(), 1);
    else
        unsetenv(kServerVariable);
    return nullptr;
}

JackDummyServer::JackDummyServer(std::string name, std::unique_ptr<ChildProcess> process,
                                 std::optional<std::string> previous)
    : m_name(std::move(name)), m_process(std::move(process)), m_previousDefault(std::move(previous))
{
}

JackDummyServer::~JackDummyServer()
{
    m_process->Stop(SIGTERM);
    RemoveLeftoverSemaphores(m_name);
    if (m_previousDefault)
        setenv(kServerVariable, m_previousDefault->c_str(), 1);
    else
        unsetenv(kServerVariable);
}
