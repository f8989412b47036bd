#pragma once

// CPU seconds (user and system) used so far by this process, all its threads
// together, and by its children that have ended and been waited for.
struct CpuTimes
{
    double self = 0;
    double children = 0;

    static CpuTimes now();
    CpuTimes operator-(const CpuTimes& earlier) const { return {self - earlier.self, children - earlier.children}; }
};
