#pragma once

#include "Sandbox.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QThread>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

// Helpers of the worker tests: a size-limited file system for "/Applications" and the
// processes the worker starts.
namespace WorkerFixture {

// Gives this process its own mount table, so its mounts never reach the real system.
inline bool enterPrivateMountNamespace()
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// A memory file system of exactly this many bytes; it costs only what is written to it.
class SizedFolder
{
public:
    SizedFolder(const QString& path, qint64 bytes)
        : m_path(path.toLocal8Bit())
    {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        m_mounted = mount("tmpfs", m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) == 0;
    }
    ~SizedFolder()
    {
        if (m_mounted)
            umount2(m_path.constData(), MNT_DETACH);
    }
    SizedFolder(const SizedFolder&) = delete;
    SizedFolder& operator=(const SizedFolder&) = delete;

    bool isMounted() const { return m_mounted; }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

// Processes whose executable is exactly this file.
inline QList<pid_t> pidsRunning(const QString& executable)
{
    QList<pid_t> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (isPid && QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(entry)) == executable)
            pids << pid;
    }
    return pids;
}

// Ends, by pid, every process the test had started from this executable.
inline void endProcesses(const QString& executable)
{
    for (pid_t pid : pidsRunning(executable))
        kill(pid, SIGTERM);
    QElapsedTimer timer;
    timer.start();
    while (!pidsRunning(executable).isEmpty() && timer.elapsed() < 5000)
        QThread::msleep(20);
}

} // namespace WorkerFixture
