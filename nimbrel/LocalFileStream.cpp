#include "LocalFileStream.h"

#include "RegularFile.h"
#include "StopRequest.h"

#include <cerrno>

#include <unistd.h>

namespace Nimbrel {

LocalFileStream::Buffer::Buffer(const StopRequest& stopRequest)
    : stopRequest(stopRequest)
{
}

LocalFileStream::Buffer::int_type LocalFileStream::Buffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize LocalFileStream::Buffer::xsputn(const char* data, std::streamsize count)
{
    std::streamsize done = 0;
    while (done < count && !stopRequest.isRequested()) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

LocalFileStream::LocalFileStream(const std::string& path, const StopRequest& stopRequest)
    : std::iostream(nullptr)
    , buffer(stopRequest)
{
    rdbuf(&buffer);
    // Opened before it is emptied, so that only a regular file loses its content.
    if (!stopRequest.isRequested())
        buffer.fd = RegularFile::openForWriting(path);
    if (buffer.fd >= 0 && ftruncate(buffer.fd, 0) != 0) {
        ::close(buffer.fd);
        buffer.fd = -1;
    }
    if (buffer.fd < 0)
        setstate(std::ios_base::badbit);
}

LocalFileStream::~LocalFileStream()
{
    if (buffer.fd >= 0)
        ::close(buffer.fd);
}

} // namespace Nimbrel
