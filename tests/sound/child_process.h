#pragma once
// A program started by a test: its standard output can be read line by line, its standard
// error is discarded, and it is killed and waited for when the object goes, or when the test
// process dies.

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ChildProcess {
public:
    static bool OnPath(const std::string& program);
    // Null when the program cannot be started.
    static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    // Sends `signal` and waits for the end, killing outright after `patience`.
    void Stop(int signal = SIGTERM, std::chrono::milliseconds patience = std::chrono::seconds(3));
    bool HasEnded();
    // The next whole line of standard output, waiting up to `timeout` for it.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

private:
    ChildProcess(pid_t pid, int output) : m_pid(pid), m_output(output) {}
    bool WaitFor(std::chrono::milliseconds timeout);

    pid_t m_pid;
    int m_output;
    bool m_ended = false;
    std::string m_pending;
};
