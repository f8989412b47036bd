#include "RunningProgram.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/stat.h>

namespace {

bool sameFile(const QString& a, const QString& b)
{
    struct stat first;
    struct stat second;
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
           && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
           && first.st_ino == second.st_ino;
}

} // namespace

const RunningProgram& RunningProgram::instance()
{
    static const RunningProgram program;
    return program;
}

RunningProgram::RunningProgram()
    : m_filePath(QCoreApplication::applicationFilePath())
    , m_processId(QCoreApplication::applicationPid())
{
    // A bare name was looked up on the search path, which is not the current folder.
    const QString argument = QCoreApplication::arguments().value(0);
    if (argument.contains(QLatin1Char('/')) && sameFile(argument, m_filePath))
        m_startedAs = argument;
}
