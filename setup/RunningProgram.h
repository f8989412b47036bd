#pragma once

#include <QString>

// The running Salvix Setup as it was found at start-up: its executable file, the path it
// was started by where that names the same file, and its process id. Taken once, on the
// first call, which start-up makes early: the program's folders may be moved or deleted
// while it runs, and argv[0] is whatever its starter chose.
class RunningProgram
{
public:
    static const RunningProgram& instance();

    // The executable, every link along its path resolved.
    QString filePath() const { return m_filePath; }
    // argv[0] as given, when it named the executable's file (same device and inode) at
    // start-up; empty otherwise.
    QString startedAs() const { return m_startedAs; }
    qint64 processId() const { return m_processId; }

private:
    RunningProgram();

    QString m_filePath;
    QString m_startedAs;
    qint64 m_processId = 0;
};
