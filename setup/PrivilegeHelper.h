#pragma once

#include <QList>
#include <QString>

// Runs a program or shell command with administrator rights, in three ways, and answers
// two questions about the user. Every operation blocks its caller, reports through its
// result and logs nothing; an output argument is written only when the program's
// standard output was collected.
class PrivilegeHelper
{
public:
    PrivilegeHelper() = delete;

    // Through Authorization Services, after the system's administrator prompt: true when
    // the program was started with the right. Returns once it closed its standard output.
    static bool runWithAuthorization(const QString& programPath, const QList<QString>& arguments, QString& output);
    static bool runWithAuthorization(const QString& programPath, const QList<QString>& arguments);

    // An AppleScript "do shell script" with administrator privileges through
    // "/usr/bin/osascript": true when the command ended with exit code 0. The command is
    // placed in the script's string literal as it is, so it must not hold '"' or '\'.
    static bool runWithOsascript(const QString& command, QString& output);
    static bool runWithOsascript(const QString& command);

    // "/usr/bin/sudo -S" fed with the password: true when the program ended with exit code 0.
    static bool runWithSudo(const QString& program, const QList<QString>& arguments, const QString& password,
                            QString& output);

    // The real user id is 0.
    static bool isRunningAsRoot();
    // The login name of the real user id; a null string when it has no password-database entry.
    static QString currentUserName();
};
