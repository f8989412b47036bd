#pragma once

#include "QuilmLogDest.h"
#include "RecordingDestination.h"

#include <QSharedPointer>
#include <QString>

// The format of a line's timestamp, and its length.
inline const QString kTimestampFormat = QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz");
constexpr int kTimestampLength = 23;

// Destroys the logger, makes it again and gives it a recorder as its only
// destination; the recorder holds every line once the logger is destroyed.
QSharedPointer<RecordingDestination> freshLoggerWithRecorder();

// Lines without level text and timestamp, the message alone.
void withoutPrefixes();

// A file destination rotating by size, at the limit and with the ring given.
QuilmLogging::DestinationPtr makeRotating(const QString& path, qint64 limit, int ring);
