#include "TransferRounds.h"

#include "CpuTimes.h"
#include "LoopbackServer.h"

#include <QElapsedTimer>

TransferRounds::TransferRounds(const char* name, Client client)
    : name_(name)
    , client_(client)
{
}

bool TransferRounds::run(LoopbackServer& server, const std::function<bool()>& transfer)
{
    const double serverBefore = server.cpuSeconds();
    const CpuTimes before = CpuTimes::now();
    QElapsedTimer clock;
    clock.start();
    const bool transferred = transfer();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const CpuTimes used = CpuTimes::now() - before;
    const double serverUsed = server.cpuSeconds() - serverBefore;
    if (!transferred)
        return false;
    seconds_.push_back(seconds);
    cpuSeconds_.push_back(client_ == ThisProcess ? used.self : used.children);
    serverCpuSeconds_.push_back(serverUsed);
    return true;
}
