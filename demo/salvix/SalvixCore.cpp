#include "SalvixCore.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>

namespace {

bool makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

} // namespace

bool salvixRecordLaunch(int argc, char** argv)
{
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return false;
    const std::string folder = std::string(home) + "/Library/Application Support/com.quilm.salvix";
    if (!makeFolders(folder))
        return false;
    std::ofstream out(folder + "/salvix_launches.txt", std::ios::app);
    for (int i = 1; i < argc; ++i)
        out << (i > 1 ? "\t" : "") << argv[i];
    out << '\n';
    return static_cast<bool>(out);
}

int salvixStaySeconds()
{
    const char* text = std::getenv("SALVIX_STAY_SECONDS");
    if (!text || !*text)
        return 5;
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    return (*end == '\0' && seconds >= 0) ? static_cast<int>(seconds) : 5;
}
