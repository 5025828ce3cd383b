#include "tests/sound/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <thread>

using Clock = std::chrono::steady_clock;

bool ChildProcess::OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv)
{
    if (argv.empty() || !OnPath(argv[0]))
        return nullptr;
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return nullptr;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(pipeEnds[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, pipeEnds[0]));
}

ChildProcess::~ChildProcess()
{
    Stop(SIGTERM);
    close(m_output);
}

bool ChildProcess::HasEnded()
{
    if (!m_ended && waitpid(m_pid, nullptr, WNOHANG) == m_pid)
        m_ended = true;
    return m_ended;
}

bool ChildProcess::WaitFor(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!HasEnded()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ChildProcess::Stop(int signal, std::chrono::milliseconds patience)
{
    if (HasEnded())
        return;
    kill(m_pid, signal);
    if (!WaitFor(patience)) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_ended = true;
    }
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto newline = m_pending.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd ready{m_output, POLLIN, 0};
        if (poll(&ready, 1, int(left.count())) <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t count = read(m_output, buffer, sizeof buffer);
        if (count <= 0)
            return std::nullopt;
        m_pending.append(buffer, std::size_t(count));
    }
}
