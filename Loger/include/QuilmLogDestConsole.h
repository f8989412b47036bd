#pragma once

#include "QuilmLogDest.h"

class QuilmDebugOutput
{
public:
    static void output(const QString& message);
};

namespace QuilmLogging {

// Prints every line on the standard error stream.
class DebugOutputDestination : public Destination
{
public:
    void write(const QString& message, Level level) override;
    bool isValid() override;
};

} // namespace QuilmLogging
