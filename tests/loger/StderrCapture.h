#ifndef STDERRCAPTURE_H
#define STDERRCAPTURE_H

#include <QString>

// Sends the process's standard error stream into a file while it lives, so a
// test can read what the logger printed there.
class StderrCapture
{
public:
    explicit StderrCapture(const QString& filePath);
    ~StderrCapture();

    // What reached the file so far; the stream is not flushed first, so an
    // unflushed write does not show.
    QString text() const;

private:
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    QString path;
    int savedFd;
};

#endif // STDERRCAPTURE_H
