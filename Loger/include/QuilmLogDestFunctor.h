#pragma once

#include "QuilmLogDest.h"

#include <QObject>

namespace QuilmLogging {

// Hands every line to a function on the writer thread, and as a signal to
// whatever is connected, queued into the receiver's own thread.
class FunctorDestination : public QObject, public Destination
{
    Q_OBJECT

public:
    explicit FunctorDestination(LogFunction f);
    FunctorDestination(QObject* receiver, const char* member);

    void write(const QString& message, Level level) override;
    bool isValid() override;

signals:
    void logMessageReady(const QString& message, int level);

private:
    LogFunction logFunction;
};

} // namespace QuilmLogging
