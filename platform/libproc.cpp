#include "libproc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

namespace {

std::vector<int> listPids()
{
    std::vector<int> pids;
    DIR* dir = opendir("/proc");
    if (!dir)
        return pids;
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && pid > 0)
            pids.push_back(static_cast<int>(pid));
    }
    closedir(dir);
    return pids;
}

} // namespace

int proc_listallpids(void* buffer, int buffersize)
{
    DIR* probe = opendir("/proc");
    if (!probe)
        return -1;
    closedir(probe);

    const std::vector<int> pids = listPids();
    if (!buffer)
        return static_cast<int>(pids.size());
    if (buffersize < 0) {
        errno = EINVAL;
        return -1;
    }
    const size_t capacity = static_cast<size_t>(buffersize) / sizeof(int);
    const size_t count = pids.size() < capacity ? pids.size() : capacity;
    std::memcpy(buffer, pids.data(), count * sizeof(int));
    return static_cast<int>(count);
}

int proc_pidpath(int pid, void* buffer, uint32_t buffersize)
{
    if (!buffer || buffersize == 0)
        return 0;
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char* out = static_cast<char*>(buffer);
    const ssize_t length = readlink(link.c_str(), out, buffersize);
    // A path that fills the whole buffer may be cut short; macOS fails such a call too.
    if (length <= 0 || static_cast<uint32_t>(length) >= buffersize)
        return 0;
    out[length] = '\0';
    return static_cast<int>(length);
}
