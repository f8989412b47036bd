#include "RecordingDestination.h"

QStringList RecordingDestination::Journal::entries() const
{
    QMutexLocker lock(&mutex);
    return lines;
}

void RecordingDestination::Journal::append(const QString& entry)
{
    QMutexLocker lock(&mutex);
    lines.append(entry);
}

RecordingDestination::RecordingDestination(const QString& name, QSharedPointer<Journal> journal)
    : name(name)
    , journal(journal)
{
}

void RecordingDestination::write(const QString& message, QuilmLogging::Level level)
{
    journal->append(name.isEmpty() ? message : name + QLatin1Char(':') + message);
    QMutexLocker lock(&levelMutex);
    seenLevels.append(level);
}

QList<QuilmLogging::Level> RecordingDestination::levels() const
{
    QMutexLocker lock(&levelMutex);
    return seenLevels;
}
