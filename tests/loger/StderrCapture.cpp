#include "StderrCapture.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

StderrCapture::StderrCapture(const QString& filePath)
    : path(filePath)
{
    std::fflush(stderr);
    savedFd = ::dup(STDERR_FILENO);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

StderrCapture::~StderrCapture()
{
    std::fflush(stderr);
    ::dup2(savedFd, STDERR_FILENO);
    ::close(savedFd);
}

QString StderrCapture::text() const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}
