#include "QuilmLogDest.h"
#include "QuilmLogDestConsole.h"
#include "QuilmLogDestFile.h"
#include "QuilmLogDestFunctor.h"

namespace QuilmLogging {

DestinationPtr DestinationFactory::MakeFileDestination(const QString& filePath, LogRotationOption rotation,
                                                       const MaxSizeBytes& sizeInBytesToRotateAfter,
                                                       const MaxOldLogCount& oldLogsToKeep)
{
    if (rotation == SizeBasedRotation) {
        QSharedPointer<SizeRotationStrategy> logRotation(new SizeRotationStrategy);
        logRotation->setMaximumSizeInBytes(sizeInBytesToRotateAfter.size);
        logRotation->setBackupCount(oldLogsToKeep.count);
        return DestinationPtr(new FileDestination(filePath, logRotation));
    }

    return DestinationPtr(new FileDestination(filePath, RotationStrategyPtr(new NullRotationStrategy)));
}

DestinationPtr DestinationFactory::MakeDebugOutputDestination()
{
    return DestinationPtr(new DebugOutputDestination);
}

DestinationPtr DestinationFactory::MakeFunctorDestination(LogFunction f)
{
    return DestinationPtr(new FunctorDestination(f));
}

DestinationPtr DestinationFactory::MakeFunctorDestination(QObject* receiver, const char* member)
{
    return DestinationPtr(new FunctorDestination(receiver, member));
}

} // namespace QuilmLogging
