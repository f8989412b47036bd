#pragma once

#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QUuid>

// Collects every log line of the process through a functor destination. The writer
// thread delivers lines later: flush() waits until all lines logged before it arrived.
class LogCapture
{
public:
    static void install()
    {
        static const bool installed = [] {
            QuilmLogging::Logger::instance().addDestination(
                QuilmLogging::DestinationFactory::MakeFunctorDestination(&LogCapture::collect));
            return true;
        }();
        Q_UNUSED(installed);
    }

    // The lines logged since the previous flush (a marker line ends them).
    static QStringList flush()
    {
        const QString marker = QStringLiteral("[LogCapture] %1").arg(QUuid::createUuid().toString());
        QLOG_INFO() << marker;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            {
                const QMutexLocker lock(&mutex());
                for (int at = 0; at < lines().size(); ++at) {
                    if (lines().at(at).contains(marker)) {
                        const QStringList before = lines().mid(0, at);
                        lines().clear();
                        return before;
                    }
                }
            }
            QThread::msleep(5);
        }
        return {QStringLiteral("<log marker never arrived>")};
    }

    // The lines that contain text.
    static QStringList matching(const QStringList& all, const QString& text) { return all.filter(text); }

private:
    static void collect(const QString& line, QuilmLogging::Level)
    {
        const QMutexLocker lock(&mutex());
        lines().append(line);
    }

    static QMutex& mutex()
    {
        static QMutex m;
        return m;
    }

    static QStringList& lines()
    {
        static QStringList l;
        return l;
    }
};
