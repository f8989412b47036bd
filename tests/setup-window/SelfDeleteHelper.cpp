// Stands in for Salvix Setup at its end: copied into a bundle by the tests, it logs to
// the file named by its first argument and schedules its own deletion.
//   SelfDeleteHelper LOG              schedule and exit
//   SelfDeleteHelper LOG gone         remove its own bundle first, as if it was moved away
#include "MainWindow.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <QCoreApplication>
#include <QDir>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QuilmLogging::Logger::instance().addDestination(QuilmLogging::DestinationFactory::MakeFileDestination(
        QString::fromLocal8Bit(argv[1]), QuilmLogging::NoRotation, QuilmLogging::MaxSizeBytes(524288),
        QuilmLogging::MaxOldLogCount(10)));
    if (argc > 2 && qstrcmp(argv[2], "gone") == 0) {
        QDir bundle(QCoreApplication::applicationDirPath() + QStringLiteral("/../.."));
        bundle.removeRecursively();
    }
    MainWindow::scheduleSelfDelete();
    QuilmLogging::Logger::destroyInstance();
    return 0;
}
