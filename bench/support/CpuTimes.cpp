#include "CpuTimes.h"

#include <sys/resource.h>

namespace {

double secondsOf(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

CpuTimes CpuTimes::now()
{
    return {secondsOf(RUSAGE_SELF), secondsOf(RUSAGE_CHILDREN)};
}
