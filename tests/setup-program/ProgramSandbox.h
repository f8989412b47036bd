#pragma once

#include "Sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>

// A sandbox for whole runs of the built program: the built "Salvix Setup.app" copied
// into the sandbox's "/Applications", and stubs first on the search path for "pgrep",
// "pkill" and "sleep" (so the self-delete script runs at once and kills nothing) and for
// "osascript" (which records what it was asked to bring to the front).
class ProgramSandbox : public Sandbox
{
public:
    ProgramSandbox()
    {
        QDir().mkpath(root() + QStringLiteral("/tmp"));
        QDir().mkpath(stubs());
        writeStub(QStringLiteral("pgrep"), "echo \"$*\" >> \"$0.calls\"\nexit 1\n");
        writeStub(QStringLiteral("pkill"), "echo \"$*\" >> \"$0.calls\"\nexit 0\n");
        writeStub(QStringLiteral("sleep"), "exit 0\n");
        writeStub(QStringLiteral("osascript"), "printf '%s\\n' \"$*\" >> \"$0.calls\"\nexit 0\n");
        placeSetupBundle();
    }

    // A copy of the built "Salvix Setup.app" in "/Applications", as a user places it.
    void placeSetupBundle() const
    {
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-a"), QStringLiteral(SALVIX_SETUP_BUNDLE), applications()});
    }

    QString stubs() const { return path() + QStringLiteral("/stubs"); }
    QString setupBundle() const { return applications() + QStringLiteral("/Salvix Setup.app"); }
    QString setupExecutable() const { return setupBundle() + QStringLiteral("/Contents/MacOS/Salvix Setup"); }
    QString salvixBundle() const { return applications() + QStringLiteral("/Salvix.app"); }
    QString salvixExecutable() const { return salvixBundle() + QStringLiteral("/Contents/MacOS/Salvix"); }
    QString launchLog() const { return userFolder() + QStringLiteral("/quilm_lanuch_log.txt"); }
    QString settingsFile() const { return userFolder() + QStringLiteral("/smart.ini"); }
    QString selfDeleteScript() const { return root() + QStringLiteral("/tmp/quilm_setup_selfdelete.sh"); }

    // Lines of a stub's record of its calls.
    QStringList stubCalls(const QString& name) const
    {
        return QString::fromUtf8(read(stubs() + QLatin1Char('/') + name + QStringLiteral(".calls")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QStringList launchLogLines() const { return lines(launchLog()); }
    // What the stand-in Salvix recorded of each start: its arguments, tab-separated.
    QStringList salvixLaunches() const { return lines(userFolder() + QStringLiteral("/salvix_launches.txt")); }

    static QStringList lines(const QString& file)
    {
        return QString::fromUtf8(read(file)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Installs the stand-in Salvix as a release would have, with the given version.
    void installSalvix(const QString& version) const
    {
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-a"), QStringLiteral(SALVIX_STAGED_BUNDLE), applications()});
        write(salvixBundle() + QStringLiteral("/Contents/Info.plist"), infoPlist(version));
    }

    void setSetupVersion(const QString& version) const
    {
        write(setupBundle() + QStringLiteral("/Contents/Info.plist"), infoPlist(version));
    }

    // The environment of a run: the sandbox, the stubs and the stand-ins first on the
    // search path, no display, and a stand-in Salvix that ends after one second.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), stubs() + QLatin1Char(':') + QStringLiteral(PLATFORM_TOOLS_DIR)
                                               + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("SALVIX_STAY_SECONDS"), QStringLiteral("1"));
        env.remove(QStringLiteral("DISPLAY"));
        return env;
    }

    // Starts the program and waits for it to end; -1 when it crashed or did not end.
    static int run(QProcess& process, const QString& executable, const QStringList& arguments,
                   const QProcessEnvironment& env)
    {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(executable, arguments);
        if (!process.waitForFinished(180000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    int run(const QStringList& arguments = {}) const
    {
        QProcess process;
        return run(process, setupExecutable(), arguments, environment());
    }

    // Polls until the condition holds or the time is up.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 60000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    // The self-delete script ends by deleting itself.
    bool waitForSelfDelete() const
    {
        return waitFor([this] { return !QFile::exists(selfDeleteScript()); });
    }

private:
    void writeStub(const QString& name, const QByteArray& body) const
    {
        const QString file = stubs() + QLatin1Char('/') + name;
        write(file, "#!/bin/sh\n" + body);
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
};
