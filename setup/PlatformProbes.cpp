#include "PlatformProbes.h"

#include "Locations.h"
#include "QuilmLog.h"
#include "RegularFile.h"
#include "SystemLocale.h"

#include <CoreGraphics/CoreGraphics.h>
#include <libproc.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

// A digest and the blanks around it; a longer check file is not one.
constexpr qint64 kMaxCheckFileBytes = 65536;

// The path with every link along it resolved; as given when it leads nowhere.
QByteArray resolvedPath(const QByteArray& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : path;
}

// Number of running processes whose executable is the file at executablePath, counting
// no further than limit. Both paths are compared resolved, byte for byte: a program
// reached through a linked folder is the same program.
int countRunning(const QString& executablePath, int limit)
{
    const QByteArray target = resolvedPath(QDir::toNativeSeparators(executablePath).toUtf8());
    const int n = proc_listallpids(nullptr, 0);
    if (n < 1)
        return 0;
    std::vector<int> pids(static_cast<size_t>(n) + 128, 0);
    const int written = proc_listallpids(pids.data(), static_cast<int>(pids.size() * sizeof(int)));
    const size_t count = written < 0 ? 0 : std::min(static_cast<size_t>(written), pids.size());

    int matches = 0;
    char path[PROC_PIDPATHINFO_MAXSIZE];
    for (size_t i = 0; i < count; ++i) {
        if (pids[i] == 0)
            continue;
        std::memset(path, 0, sizeof(path));
        if (proc_pidpath(pids[i], path, sizeof(path)) <= 0)
            continue;
        if (target == resolvedPath(QByteArray(path)) && ++matches >= limit)
            break;
    }
    return matches;
}

} // namespace

bool checkQuilmTolvaneRunning(QString executablePath)
{
    return countRunning(executablePath, 1) >= 1;
}

bool checkQuilmTolvaneRepeatRunning(QString executablePath)
{
    return countRunning(executablePath, 2) >= 2;
}

QString checkFilePathFor(const QString& archivePath)
{
    const qsizetype dot = archivePath.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? archivePath : archivePath.left(dot)) + QStringLiteral(".dat");
}

bool checkFileSHASumLegacy(const QString& archivePath)
{
    // "shasum" would wait at a named pipe for a writer until its time runs out.
    if (!isRegularFile(archivePath))
        return false;
    QProcess shasum;
    shasum.start(QStringLiteral("shasum"), {QStringLiteral("-a"), QStringLiteral("1"), archivePath},
                 QIODevice::ReadWrite);
    shasum.waitForFinished(30000);
    const QString output = QString::fromLocal8Bit(shasum.readAllStandardOutput()).trimmed();

    const QString expected =
        QString::fromLocal8Bit(readSmallRegularFile(checkFilePathFor(archivePath), kMaxCheckFileBytes)).trimmed();

    QString actual;
    const qsizetype blank = output.indexOf(QLatin1Char(' '));
    if (blank >= 1)
        actual = output.left(blank).trimmed();

    return !expected.isEmpty() && !actual.isEmpty() && expected.compare(actual, Qt::CaseInsensitive) == 0;
}

QString getLaunchToolPath()
{
    QString result;
    QFile file(getLaunchLogPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() == 0)
        return result;

    QTextStream stream(&file);
    const QString line = stream.readLine().trimmed();
    const QString marker = QStringLiteral("[main] run from path:");
    const qsizetype at = line.indexOf(marker);
    if (at < 0)
        return result;

    QString path = line.mid(at + marker.size()).mid(1).trimmed();
    if (path.startsWith(QLatin1Char('"')))
        path.remove(0, 1);
    if (path.endsWith(QLatin1Char('"')))
        path.chop(1);
    return QDir::toNativeSeparators(path);
}

bool activateWindowToFront(const QString& processName, const QString& windowClass)
{
    Q_UNUSED(windowClass);
    const QString script = QStringLiteral("tell application \"System Events\"\n"
                                          "    set frontmost of every process whose name contains \"%1\" to true\n"
                                          "end tell")
                               .arg(processName);
    QProcess osascript;
    osascript.start(QStringLiteral("osascript"), {QStringLiteral("-e"), script}, QIODevice::ReadWrite);
    // A program that did not start or did not end keeps exit code 0: only a normal end counts.
    const bool finished = osascript.waitForFinished(3000);
    return finished && osascript.exitStatus() == QProcess::NormalExit && osascript.exitCode() == 0;
}

bool Check4KResolutionScreen()
{
    const CGDirectDisplayID display = CGMainDisplayID();
    const size_t width = CGDisplayPixelsWide(display);
    const size_t height = CGDisplayPixelsHigh(display);
    const CGSize size = CGDisplayScreenSize(display);
    return Check4KResolutionScreen(width, height, size.width, size.height);
}

bool Check4KResolutionScreen(size_t pixelsWide, size_t pixelsHigh, double widthMm, double heightMm)
{
    const double inches = std::sqrt(std::pow(widthMm / 25.4, 2) + std::pow(heightMm / 25.4, 2));
    QLOG_INFO() << QStringLiteral("screen pixel width %1, height %2, physical length %3mm, width %4mm, inch size %5")
                       .arg(pixelsWide)
                       .arg(pixelsHigh)
                       .arg(widthMm, 0, 'g', -1)
                       .arg(heightMm, 0, 'g', -1)
                       .arg(inches, 0, 'g', -1);
    return (inches < 14.1 && pixelsWide >= 2100 && pixelsHigh >= 1600) || (pixelsWide >= 3840 && pixelsHigh >= 2160);
}

QString getPrimaryLanguage()
{
    const QStringList languages = systemUiLanguages();
    return languages.isEmpty() ? QString() : languages.first();
}

QString getLastErrorMessage()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

void defragmentMemory()
{
}

QString getPlatformStyleName()
{
    return QStringLiteral("macos");
}
