#include "QuilmLogDestFunctor.h"

namespace QuilmLogging {

FunctorDestination::FunctorDestination(LogFunction f)
    : QObject(nullptr)
    , logFunction(f)
{
}

FunctorDestination::FunctorDestination(QObject* receiver, const char* member)
    : QObject(nullptr)
    , logFunction(nullptr)
{
    connect(this, SIGNAL(logMessageReady(QString, int)), receiver, member, Qt::QueuedConnection);
}

void FunctorDestination::write(const QString& message, Level level)
{
    if (logFunction)
        logFunction(message, level);

    if (level >= 0)
        emit logMessageReady(message, level);
}

bool FunctorDestination::isValid()
{
    return true;
}

} // namespace QuilmLogging
