#pragma once
// The resident memory of a process as the kernel reports it in /proc/PID/status, in
// megabytes: all of it, and the part that is shared memory (a JACK server's buffers, mapped
// into every client, are counted there).

#include <fstream>
#include <string>

struct ResidentMemory {
    double total = 0;  // VmRSS
    double shared = 0; // RssShmem
    double Own() const { return total - shared; }
};

// Zero when the process is gone. `status` names the process's status file.
inline ResidentMemory ReadResidentMemory(const std::string& status = "/proc/self/status")
{
    ResidentMemory memory;
    std::ifstream file(status);
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            memory.total = std::stod(line.substr(6)) / 1024.0;
        else if (line.rfind("RssShmem:", 0) == 0)
            memory.shared = std::stod(line.substr(9)) / 1024.0;
    }
    return memory;
}
