#pragma once
// An X server of the benchmark's own: Xvfb on the first free display number, ended with the
// object.

#include "tests/sound/child_process.h"

#include <memory>
#include <string>

class VirtualDisplay {
public:
    static bool Available() { return ChildProcess::OnPath("Xvfb"); }
    // Null when no server comes up.
    static std::unique_ptr<VirtualDisplay> Start();

    // ":N", as DISPLAY names it.
    const std::string& Name() const { return m_name; }

private:
    VirtualDisplay(std::string name, std::unique_ptr<ChildProcess> server)
        : m_name(std::move(name)), m_server(std::move(server))
    {
    }

    std::string m_name;
    std::unique_ptr<ChildProcess> m_server;
};
