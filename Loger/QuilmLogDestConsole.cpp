#include "QuilmLogDestConsole.h"

#include <cstdio>

void QuilmDebugOutput::output(const QString& message)
{
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

namespace QuilmLogging {

void DebugOutputDestination::write(const QString& message, Level)
{
    QuilmDebugOutput::output(message);
}

bool DebugOutputDestination::isValid()
{
    return true;
}

} // namespace QuilmLogging
