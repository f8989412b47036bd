#pragma once

#include "QuilmLogDest.h"

#include <QString>

// Throws for every line that contains the marker.
class ThrowingDestination : public QuilmLogging::Destination
{
public:
    explicit ThrowingDestination(const QString& marker);

    void write(const QString& message, QuilmLogging::Level level) override;
    bool isValid() override { return true; }

private:
    QString marker;
};
