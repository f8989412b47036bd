#pragma once

#include <string>

// Output of the package queries, which find nothing.
struct SoftPackInfo
{
    std::string name;
    std::string version;
    std::string url;
};
