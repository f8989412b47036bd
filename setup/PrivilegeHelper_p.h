#pragma once

// The parts of PrivilegeHelper that take their limits and ids as parameters: the
// operations pass their fixed values, the tests short limits and other ids.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

namespace PrivilegeHelperPrivate {

// Starts program opened for reading and writing and waits up to startLimitMs for the start;
// writes input, when given, and closes the write channel; waits up to finishLimitMs for the
// end, else kills it. When it ended, output becomes its standard output (UTF-8) and the
// result is whether it exited normally with code 0.
bool runProcess(const QString& program, const QStringList& arguments, const std::optional<QByteArray>& input,
                int startLimitMs, int finishLimitMs, QString& output);

// The login name of uid in the password database; a null string without an entry.
QString userName(uid_t uid);

} // namespace PrivilegeHelperPrivate
