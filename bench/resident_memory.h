#pragma once
// The resident memory of a process as the kernel reports it in /proc/PID/status, in
// megabytes: all of it, and the part that is shared memory (a JACK server's buffers, mapped
// into every client, are counted there). Its proportional share (PSS, from
// /proc/PID/smaps_rollup) counts each page shared with other processes in part, so a library
// that another program also uses weighs less; it too is given with and without shared memory.

#include <fstream>
#include <string>

struct ResidentMemory {
    double total = 0;              // VmRSS
    double shared = 0;             // RssShmem
    double proportional = 0;       // Pss
    double proportionalShared = 0; // Pss_Shmem
    double Own() const { return total - shared; }
    double ProportionalOwn() const { return proportional - proportionalShared; }
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
    const std::string rollup = status.substr(0, status.rfind('/') + 1) + "smaps_rollup";
    std::ifstream shares(rollup);
    for (std::string line; std::getline(shares, line);) {
        if (line.rfind("Pss:", 0) == 0)
            memory.proportional = std::stod(line.substr(4)) / 1024.0;
        else if (line.rfind("Pss_Shmem:", 0) == 0)
            memory.proportionalShared = std::stod(line.substr(10)) / 1024.0;
    }
    return memory;
}
