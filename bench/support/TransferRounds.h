#pragma once

#include "TransferReport.h"

#include <functional>
#include <vector>

class LoopbackServer;

// The rounds of one transfer by one client: wall-clock time, the client's
// CPU time and the server's, each reported as the median of the rounds.
class TransferRounds
{
public:
    // Whose CPU time counts: this process (the client layer, the workers, all
    // their threads), or the child processes that end during the round (curl).
    enum Client { ThisProcess, ChildProcesses };

    TransferRounds(const char* name, Client client);

    // One round; false when the transfer failed.
    bool run(LoopbackServer& server, const std::function<bool()>& transfer);

    const char* name() const { return name_; }
    double seconds() const { return TransferReport::median(seconds_); }
    double cpuSeconds() const { return TransferReport::median(cpuSeconds_); }
    double serverCpuSeconds() const { return TransferReport::median(serverCpuSeconds_); }

private:
    const char* name_;
    Client client_;
    std::vector<double> seconds_;
    std::vector<double> cpuSeconds_;
    std::vector<double> serverCpuSeconds_;
};
