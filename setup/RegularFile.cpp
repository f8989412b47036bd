#include "RegularFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int openRegularFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isRegularFile(const QString& path)
{
    const int fd = openRegularFile(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

QByteArray readSmallRegularFile(const QString& path, qint64 maxBytes)
{
    const int fd = openRegularFile(path);
    if (fd < 0)
        return QByteArray();
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QByteArray();
    }
    // One byte more than allowed tells a file that is too long from one that fits.
    const QByteArray content = file.read(maxBytes + 1);
    if (content.size() > maxBytes)
        return QByteArray();
    return content.isNull() ? QByteArray("") : content;
}
