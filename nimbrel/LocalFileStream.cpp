#include "LocalFileStream.h"

#include "RegularFile.h"
#include "StopRequest_p.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace Nimbrel {

namespace {

// Gathers the transfer's pieces into fewer writes.
const std::streamsize pendingSize = 256 * 1024;

} // namespace

LocalFileStream::Buffer::Buffer(const StopRequest& stopRequest)
    : stopRequest(stopRequest)
{
}

LocalFileStream::Buffer::~Buffer()
{
    if (fd < 0)
        return;
    writePending();
    ::close(fd);
}

bool LocalFileStream::Buffer::open(const std::string& path)
{
    if (stopRequest.isRequested())
        return false;
    fd = RegularFile::openForWriting(path);
    if (fd < 0)
        return false;
    // Opened before it is emptied, so that only a regular file loses its content.
    if (ftruncate(fd, 0) != 0) {
        ::close(fd);
        fd = -1;
        return false;
    }
    pending.reset(new char[pendingSize]);
    setp(pending.get(), pending.get() + pendingSize);
    return true;
}

bool LocalFileStream::Buffer::writeOut(const char* data, std::streamsize count)
{
    std::streamsize done = 0;
    while (done < count) {
        if (stopRequest.isRequested())
            return false;
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool LocalFileStream::Buffer::writePending()
{
    const std::streamsize count = pptr() - pbase();
    setp(pbase(), epptr());
    return writeOut(pbase(), count);
}

LocalFileStream::Buffer::int_type LocalFileStream::Buffer::overflow(int_type c)
{
    if (fd < 0 || !writePending())
        return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize LocalFileStream::Buffer::xsputn(const char* data, std::streamsize count)
{
    if (fd < 0)
        return 0;
    if (count <= epptr() - pptr()) {
        std::memcpy(pptr(), data, static_cast<size_t>(count));
        pbump(static_cast<int>(count));
        return count;
    }
    if (!writePending())
        return 0;
    if (count < pendingSize)
        return xsputn(data, count);
    return writeOut(data, count) ? count : 0;
}

int LocalFileStream::Buffer::sync()
{
    return fd >= 0 && writePending() ? 0 : -1;
}

LocalFileStream::LocalFileStream(const std::string& path, const StopRequest& stopRequest)
    : std::iostream(nullptr)
    , buffer(stopRequest)
{
    rdbuf(&buffer);
    if (!buffer.open(path))
        setstate(std::ios_base::badbit);
}

LocalFileStream::~LocalFileStream() = default;

} // namespace Nimbrel
