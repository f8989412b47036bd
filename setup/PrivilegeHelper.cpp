#include "PrivilegeHelper.h"
#include "PrivilegeHelper_p.h"

#include "SystemRoot.h"

#include <Security/Authorization.h>

#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int kStartLimitMs = 30000;
constexpr int kOsascriptFinishLimitMs = 60000;
constexpr int kSudoFinishLimitMs = 30000;

// Everything the pipe delivers until end of file, read in pieces of at most 255 bytes.
// The pieces are decoded together: a character may straddle two of them.
QString readPipe(FILE* pipe)
{
    QByteArray bytes;
    char buffer[256];
    while (std::fgets(buffer, sizeof(buffer), pipe))
        bytes += buffer;
    return QString::fromUtf8(bytes);
}

} // namespace

bool PrivilegeHelper::runWithAuthorization(const QString& programPath, const QList<QString>& arguments, QString& output)
{
    AuthorizationRef authorization = nullptr;
    if (AuthorizationCreate(nullptr, kAuthorizationEmptyEnvironment, kAuthorizationFlagDefaults, &authorization)
        != errAuthorizationSuccess)
        return false;

    AuthorizationItem item{kAuthorizationRightExecute, 0, nullptr, 0};
    const AuthorizationRights rights{1, &item};
    const AuthorizationFlags flags =
        kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize;
    if (AuthorizationCopyRights(authorization, &rights, kAuthorizationEmptyEnvironment, flags, nullptr)
        != errAuthorizationSuccess) {
        AuthorizationFree(authorization, kAuthorizationFlagDefaults);
        return false;
    }

    FILE* pipe = nullptr;
    OSStatus status;
    {
        const QByteArray program = programPath.toUtf8();
        std::vector<QByteArray> copies;
        copies.reserve(static_cast<size_t>(arguments.size()));
        for (const QString& argument : arguments)
            copies.push_back(argument.toUtf8());
        std::vector<char*> argv;
        for (QByteArray& copy : copies)
            argv.push_back(copy.data());
        argv.push_back(nullptr);
        status = AuthorizationExecuteWithPrivileges(authorization, program.constData(), kAuthorizationFlagDefaults,
                                                    argv.data(), &pipe);
    }

    if (status == errAuthorizationSuccess && pipe) {
        output = readPipe(pipe);
        std::fclose(pipe);
    }
    AuthorizationFree(authorization, kAuthorizationFlagDefaults);
    return status == errAuthorizationSuccess;
}

bool PrivilegeHelper::runWithAuthorization(const QString& programPath, const QList<QString>& arguments)
{
    QString dropped;
    return runWithAuthorization(programPath, arguments, dropped);
}

bool PrivilegeHelper::runWithOsascript(const QString& command, QString& output)
{
    const QString script = QStringLiteral("do shell script \"%1\" with administrator privileges").arg(command);
    return PrivilegeHelperPrivate::runProcess(systemProgramPath(QStringLiteral("/usr/bin/osascript")),
                                              {QStringLiteral("-e"), script}, std::nullopt, kStartLimitMs,
                                              kOsascriptFinishLimitMs, output);
}

bool PrivilegeHelper::runWithOsascript(const QString& command)
{
    QString dropped;
    return runWithOsascript(command, dropped);
}

bool PrivilegeHelper::runWithSudo(const QString& program, const QList<QString>& arguments, const QString& password,
                                  QString& output)
{
    const QStringList sudoArguments = QStringList{QStringLiteral("-S"), program} + arguments;
    return PrivilegeHelperPrivate::runProcess(systemProgramPath(QStringLiteral("/usr/bin/sudo")), sudoArguments,
                                              password.toUtf8() + '\n', kStartLimitMs, kSudoFinishLimitMs, output);
}

bool PrivilegeHelper::isRunningAsRoot()
{
    return getuid() == 0;
}

QString PrivilegeHelper::currentUserName()
{
    return PrivilegeHelperPrivate::userName(getuid());
}

bool PrivilegeHelperPrivate::runProcess(const QString& program, const QStringList& arguments,
                                        const std::optional<QByteArray>& input, int startLimitMs, int finishLimitMs,
                                        QString& output)
{
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(startLimitMs))
        return false;
    if (input) {
        process.write(*input);
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(finishLimitMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    output = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString PrivilegeHelperPrivate::userName(uid_t uid)
{
    // The reentrant lookup: getpwuid's one entry is shared by every thread of the process.
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int error;
    while ((error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (error != 0 || !found)
        return QString();
    return QString::fromUtf8(found->pw_name ? found->pw_name : "");
}
