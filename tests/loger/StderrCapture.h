#pragma once

#include <QByteArray>
#include <QTemporaryFile>

// Sends file descriptor 2 into a temporary file while it lives, so a test can
// read the bare texts the logger writes to the standard error stream.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();

    // What reached the file so far; the stream is not flushed first, so an
    // unflushed write does not show.
    QByteArray written() const;

private:
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    QTemporaryFile capture;
    int savedFd = -1;
};
