#include "UpgradeFileCopy.h"

#include "Locations.h"
#include "QuilmLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

// An absolute path ending in "<name>.app/Contents/MacOS/Salvix Setup", part by part.
bool isSetupProgramPath(const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    const qsizetype n = parts.size();
    return n >= 5 && parts.at(n - 1) == QLatin1String("Salvix Setup") && parts.at(n - 2) == QLatin1String("MacOS")
           && parts.at(n - 3) == QLatin1String("Contents") && parts.at(n - 4).size() > 4
           && parts.at(n - 4).endsWith(QLatin1String(".app"));
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens path for reading only when a regular file stands there: never through a link at
// its last part, and nothing else (a FIFO or a device) is opened at all.
bool openRegularFile(const QString& path, QFile& file, struct stat& status)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat before;
    if (::lstat(native.constData(), &before) != 0)
        return false;
    if (!S_ISREG(before.st_mode)) {
        errno = EINVAL;
        return false;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // What was opened is what was looked at, not something put there meanwhile.
    if (::fstat(fd, &status) != 0 || !sameFile(status, before)) {
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    return file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

// The target is an earlier Salvix Setup that may be replaced: a regular file in a bundle's
// program folder, also where its folders lead, and neither the installed Salvix nor the
// source itself.
bool isReplaceableSetup(const QString& target, const QString& source, QFile& file, struct stat& status)
{
    if (!isSetupProgramPath(target) || !openRegularFile(target, file, status))
        return false;
    if (!isSetupProgramPath(QFileInfo(target).canonicalFilePath()))
        return false;
    for (const QString& other : {getMainToolPath(), source}) {
        struct stat otherStatus;
        if (::stat(QFile::encodeName(other).constData(), &otherStatus) == 0 && sameFile(status, otherStatus))
            return false;
    }
    return true;
}

bool copyData(QFile& from, QFile& to)
{
    char buffer[65536];
    for (;;) {
        const qint64 read = from.read(buffer, sizeof buffer);
        if (read < 0)
            return false;
        if (read == 0)
            return to.flush();
        if (to.write(buffer, read) != read)
            return false;
    }
}

// A copy of the target at backup, with its mode, created afresh: a name already taken is
// never written.
bool makeBackup(QFile& target, const struct stat& status, const QString& backup)
{
    const int fd =
        ::open(QFile::encodeName(backup).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    QFile copy;
    if (copy.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && copyData(target, copy)
        && ::fchmod(fd, status.st_mode & 0777) == 0)
        return true;
    QFile::remove(backup);
    return false;
}

// Writes the source into a new file beside the target and renames it into place, so the
// target is either the earlier program or the whole new one. The error number, 0 when
// the new program is in place.
int replaceByCopy(const QString& target, const QString& source)
{
    QFile from;
    struct stat status;
    if (!openRegularFile(source, from, status))
        return errno;
    // The source comes from a download: its permission bits only, never set-id bits.
    QTemporaryFile next(QFileInfo(target).path() + QStringLiteral("/.Salvix Setup.XXXXXX"));
    if (!next.open() || !copyData(from, next) || ::fchmod(next.handle(), status.st_mode & 0777) != 0)
        return errno;
    if (::rename(QFile::encodeName(next.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return errno;
    next.setAutoRemove(false);
    return 0;
}

} // namespace

void copyToUpgradeFileToPatchTool(QString& target, QString& source)
{
    QLOG_INFO() << "autoUpgradeSoftware try to copy patch tool";
    if (!target.isEmpty()) {
        QLOG_INFO() << "autoUpgradeSoftware try to copy patch tool to" << target << "from" << source;

        QFile earlier;
        struct stat status;
        const bool replaceable =
            target.compare(QDir::toNativeSeparators(source), Qt::CaseInsensitive) != 0
            && target.compare(QDir::toNativeSeparators(getMainToolPath()), Qt::CaseInsensitive) != 0
            && isReplaceableSetup(target, source, earlier, status);
        const QString backup = source + QStringLiteral("_bak");

        if (!replaceable) {
            QLOG_WARN() << "autoUpgradeSoftware left alone, not an earlier Salvix Setup:" << target;
        } else if (makeBackup(earlier, status, backup)) {
            // The backup stays until the new program is in place.
            const int error = replaceByCopy(target, source);
            // Spelt so: readers of the launch log look for this line.
            if (error == 0)
                QLOG_INFO() << "autoUpgradeSoftware copy to patch tool succefully!";
            else
                QLOG_ERROR() << "autoUpgradeSoftware copy to patch tool error:"
                             << QString::fromLocal8Bit(std::strerror(error));
            QFile::remove(backup);
        }
    }
    QLOG_INFO() << "autoUpgradeSoftware try to copy patch tool end";
}
