#pragma once

#include "QuilmLog.h"

#include <QSharedPointer>
#include <QString>
#include <QtGlobal>

class QObject;

namespace QuilmLogging {

class Destination
{
public:
    virtual ~Destination();
    virtual void write(const QString& message, Level level) = 0;
    virtual bool isValid() = 0;
};

typedef QSharedPointer<Destination> DestinationPtr;

enum LogRotationOption { NoRotation = 0, SizeBasedRotation = 1 };

struct MaxSizeBytes
{
    MaxSizeBytes()
        : size(0)
    {
    }
    explicit MaxSizeBytes(qint64 size_)
        : size(size_)
    {
    }
    qint64 size;
};

struct MaxOldLogCount
{
    MaxOldLogCount()
        : count(0)
    {
    }
    explicit MaxOldLogCount(int count_)
        : count(count_)
    {
    }
    int count;
};

// The rotation both deliverables ask for: past 512 KiB the log goes on in the next of ten names.
constexpr qint64 kDeliverableLogMaxSizeBytes = 524288;
constexpr int kDeliverableLogOldLogCount = 10;

typedef void (*LogFunction)(const QString& message, Level level);

class DestinationFactory
{
public:
    static DestinationPtr MakeFileDestination(const QString& filePath, LogRotationOption rotation = NoRotation,
                                              const MaxSizeBytes& sizeInBytesToRotateAfter = MaxSizeBytes(),
                                              const MaxOldLogCount& oldLogsToKeep = MaxOldLogCount());
    static DestinationPtr MakeDebugOutputDestination();
    static DestinationPtr MakeFunctorDestination(LogFunction f);
    static DestinationPtr MakeFunctorDestination(QObject* receiver, const char* member);
};

} // namespace QuilmLogging
