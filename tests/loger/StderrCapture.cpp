#include "StderrCapture.h"

#include <QFile>

#include <cstdio>
#include <unistd.h>

StderrCapture::StderrCapture()
{
    if (!capture.open())
        return;
    std::fflush(stderr);
    savedFd = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
}

StderrCapture::~StderrCapture()
{
    if (savedFd < 0)
        return;
    std::fflush(stderr);
    ::dup2(savedFd, STDERR_FILENO);
    ::close(savedFd);
}

QByteArray StderrCapture::written() const
{
    QFile reader(capture.fileName());
    if (!reader.open(QIODevice::ReadOnly))
        return QByteArray();
    return reader.readAll();
}
