#include "ThrowingDestination.h"

#include <stdexcept>

ThrowingDestination::ThrowingDestination(const QString& marker)
    : marker(marker)
{
}

void ThrowingDestination::write(const QString& message, QuilmLogging::Level)
{
    if (message.contains(marker))
        throw std::runtime_error("destination failure");
}
