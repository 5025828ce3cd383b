#pragma once
// A JACK server of a test's own: jackd on its dummy driver under a name no other test uses,
// with this process's JACK clients pointed at it until it is destroyed.

#include "tests/sound/child_process.h"

#include <memory>
#include <optional>
#include <string>

class JackDummyServer {
public:
    static bool Available() { return ChildProcess::OnPath("jackd"); }
    // Null when the server does not come up.
    static std::unique_ptr<JackDummyServer> Start();
    ~JackDummyServer();
    JackDummyServer(const JackDummyServer&) = delete;
    JackDummyServer& operator=(const JackDummyServer&) = delete;

    const std::string& Name() const { return m_name; }
    // Stops the server while clients are still connected to it.
    void Stop() { m_process->Stop(SIGTERM); }

private:
    JackDummyServer(std::string name, std::unique_ptr<ChildProcess> process,
                    std::optional<std::string> previous);

    std::string m_name;
    std::unique_ptr<ChildProcess> m_process;
    std::optional<std::string> m_previousDefault;
};
