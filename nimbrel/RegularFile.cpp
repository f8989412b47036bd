#include "RegularFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Nimbrel {

namespace RegularFile {

namespace {

int openRegular(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat status;
    int error = 0;
    if (fstat(fd, &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    // Reads and writes of a regular file wait for the disk as usual.
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error == 0)
        return fd;
    ::close(fd);
    errno = error;
    return -1;
}

} // namespace

int openForReading(const std::string& path)
{
    return openRegular(path, O_RDONLY);
}

int openForWriting(const std::string& path)
{
    return openRegular(path, O_RDWR | O_CREAT);
}

bool isRegularOrMissing(const std::string& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return errno == ENOENT;
    return S_ISREG(status.st_mode);
}

bool readAll(const std::string& path, int64_t maxSize, std::string& bytes)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    struct stat status;
    bool read = fstat(fd, &status) == 0 && status.st_size <= maxSize;
    if (read) {
        bytes.resize(static_cast<size_t>(status.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, &bytes[done], bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        // A file that shrank meanwhile is taken as far as it went.
        bytes.resize(done);
    }
    ::close(fd);
    return read;
}

} // namespace RegularFile

} // namespace Nimbrel
