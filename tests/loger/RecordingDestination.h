#pragma once

#include "QuilmLogDest.h"

#include <QMutex>
#include <QSharedPointer>
#include <QStringList>

// Keeps every line it is given, with its level; readable while the logger
// writes. Several recorders may share one journal, which then shows the order
// in which the destinations were called.
class RecordingDestination : public QuilmLogging::Destination
{
public:
    struct Journal
    {
        QStringList entries() const;
        void append(const QString& entry);

        mutable QMutex mutex;
        QStringList lines;
    };

    explicit RecordingDestination(const QString& name = QString(),
                                  QSharedPointer<Journal> journal = QSharedPointer<Journal>::create());

    void write(const QString& message, QuilmLogging::Level level) override;
    bool isValid() override { return true; }

    // Lines as "name:line", or the bare line when the recorder has no name.
    QStringList entries() const { return journal->entries(); }
    QList<QuilmLogging::Level> levels() const;

private:
    QString name;
    QSharedPointer<Journal> journal;
    mutable QMutex levelMutex;
    QList<QuilmLogging::Level> seenLevels;
};
