#pragma once

#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

namespace Nimbrel {

class StopRequest;

// The download's local file, as the stream the transfer writes the body into.
// Opened without blocking and only as a regular file (created when missing),
// emptied once open. Once the job's stop is requested it writes nothing any
// more, not even what it holds when it closes: the next write fails, which
// aborts the transfer from its data callback.
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
        ~Buffer() override;

        bool open(const std::string& path);

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* data, std::streamsize count) override;
        int sync() override;

    private:
        bool writeOut(const char* data, std::streamsize count);
        bool writePending();

        const StopRequest& stopRequest;
        int fd = -1;
        std::unique_ptr<char[]> pending;
    };

    Buffer buffer;
};

} // namespace Nimbrel
