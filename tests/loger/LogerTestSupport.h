#ifndef LOGERTESTSUPPORT_H
#define LOGERTESTSUPPORT_H

#include "QuilmLogDest.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

// Keeps every line it is handed, with its level; readable once the logger is
// destroyed (which waits for the writer thread) or under its mutex.
class CollectingDestination : public QuilmLogging::Destination
{
public:
    void write(const QString& message, QuilmLogging::Level level) override
    {
        QMutexLocker lock(&mutex);
        lines.append(message);
        levels.append(level);
    }
    bool isValid() override { return true; }

    QStringList takenLines()
    {
        QMutexLocker lock(&mutex);
        return lines;
    }

    QMutex mutex;
    QStringList lines;
    QList<QuilmLogging::Level> levels;
};

// Throws for every line that contains the marker.
class ThrowingDestination : public QuilmLogging::Destination
{
public:
    explicit ThrowingDestination(const QString& marker) : marker(marker) {}
    void write(const QString& message, QuilmLogging::Level) override
    {
        if (message.contains(marker))
            throw std::runtime_error("destination failure");
    }
    bool isValid() override { return true; }

private:
    QString marker;
};

// Sends file descriptor 2 into a temporary file for its lifetime, so the
// bare texts the logger writes to the standard error stream can be read back.
class ErrorStreamCapture
{
public:
    ErrorStreamCapture()
    {
        capture.open();
        std::fflush(stderr);
        savedFd = ::dup(2);
        ::dup2(capture.handle(), 2);
    }
    ~ErrorStreamCapture() { restore(); }

    // Everything written, once the stream is flushed and put back.
    QByteArray text()
    {
        restore();
        return written();
    }

    // What has reached the file so far, without flushing the stream.
    QByteArray written() const
    {
        QFile reader(capture.fileName());
        reader.open(QIODevice::ReadOnly);
        return reader.readAll();
    }

private:
    void restore()
    {
        if (savedFd < 0)
            return;
        std::fflush(stderr);
        ::dup2(savedFd, 2);
        ::close(savedFd);
        savedFd = -1;
    }

    QTemporaryFile capture;
    int savedFd = -1;
};

#endif // LOGERTESTSUPPORT_H
