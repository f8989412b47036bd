#include "LoggerFixture.h"

#include "QuilmLog.h"
#include "QuilmLogDest.h"

using namespace QuilmLogging;

QSharedPointer<RecordingDestination> freshLoggerWithRecorder()
{
    Logger::destroyInstance();
    QSharedPointer<RecordingDestination> recorder(new RecordingDestination);
    Logger::instance().addDestination(recorder);
    return recorder;
}

void withoutPrefixes()
{
    Logger::instance().setIncludeLogLevel(false);
    Logger::instance().setIncludeTimestamp(false);
}

DestinationPtr makeRotating(const QString& path, qint64 limit, int ring)
{
    return DestinationFactory::MakeFileDestination(path, SizeBasedRotation, MaxSizeBytes(limit), MaxOldLogCount(ring));
}
