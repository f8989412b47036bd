// Stands in for Salvix Setup at its end: copied into a bundle by the tests, it logs to
// the file named by its first argument and schedules its own deletion.
//   SelfDeleteHelper LOG              schedule and exit
//   SelfDeleteHelper LOG gone         remove its own bundle first, as if it was moved away
//   SelfDeleteHelper LOG linger MS    stay MS milliseconds after scheduling, then write
//                                     "present" or "absent" for its bundle to LOG.end
#include "MainWindow.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"
#include "RunningProgram.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // As start-up does it, before the bundle can go.
    RunningProgram::instance();
    if (argc < 2)
        return 2;
    QuilmLogging::Logger::instance().addDestination(QuilmLogging::DestinationFactory::MakeFileDestination(
        QString::fromLocal8Bit(argv[1]), QuilmLogging::NoRotation, QuilmLogging::MaxSizeBytes(524288),
        QuilmLogging::MaxOldLogCount(10)));
    if (argc > 2 && qstrcmp(argv[2], "gone") == 0) {
        QDir bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/../.."));
        bundle.removeRecursively();
    }
    const QString bundle = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../.."));
    MainWindow::scheduleSelfDelete();
    QuilmLogging::Logger::destroyInstance();
    if (argc > 3 && qstrcmp(argv[2], "linger") == 0) {
        QThread::msleep(QByteArray(argv[3]).toULong());
        QFile end(QString::fromLocal8Bit(argv[1]) + QStringLiteral(".end"));
        if (!end.open(QIODevice::WriteOnly))
            return 3;
        end.write(QDir(bundle).exists() ? "present" : "absent");
    }
    return 0;
}
