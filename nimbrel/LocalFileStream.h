#pragma once

#include <iostream>
#include <streambuf>
#include <string>

namespace Nimbrel {

class StopRequest;

// The download's local file, as the stream the transfer writes the body into.
// Opened without blocking and only as a regular file (created when missing),
// emptied once open. Unbuffered, so nothing is left to write when it closes,
// and once the job's stop is requested every write fails, which aborts the
// transfer from its data callback.
class LocalFileStream : public std::iostream
{
public:
    LocalFileStream(const std::string& path, const StopRequest& stopRequest);
    ~LocalFileStream() override;
    LocalFileStream(const LocalFileStream&) = delete;
    LocalFileStream& operator=(const LocalFileStream&) = delete;

private:
    class Buffer : public std::streambuf
    {
    public:
        explicit Buffer(const StopRequest& stopRequest);

        int fd = -1;

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* data, std::streamsize count) override;

    private:
        const StopRequest& stopRequest;
    };

    Buffer buffer;
};

} // namespace Nimbrel
