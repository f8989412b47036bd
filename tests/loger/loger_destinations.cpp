// The debug-output destination on the standard error stream, and the functor
// destination with a function and with a receiver living in another thread.
#include "LogerTestSupport.h"
#include "QuilmLog.h"
#include "QuilmLogDestConsole.h"
#include "QuilmLogDestFunctor.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cstdio>

using namespace QuilmLogging;

namespace {

struct Call
{
    QString line;
    Level level;
};
QList<Call> functionCalls;

void recordCall(const QString& line, Level level)
{
    functionCalls.append({ line, level });
}

void logThreeLines()
{
    Logger::instance().setLoggingLevel(Trace);
    Logger::instance().setIncludeTimestamp(false);
    QLOG_TRACE() << "first";
    QLOG_ERROR() << "second";
    QLOG_INFO() << "third";
}

const QStringList kThreeLines { "TRACE first ", "ERROR second ", "INFO  third " };

} // namespace

class Receiver : public QObject
{
    Q_OBJECT

public:
    QStringList lines()
    {
        QMutexLocker lock(&mutex);
        return received;
    }

    QMutex mutex;
    QStringList received;
    QList<int> levels;
    QList<QThread*> threads;

public slots:
    void take(const QString& line, int level)
    {
        QMutexLocker lock(&mutex);
        received.append(line);
        levels.append(level);
        threads.append(QThread::currentThread());
    }
    void takeSwapped(int, const QString& line) { take(line, -1); }
};

class LogerDestinations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void debugOutputPrintsEachLineAtOnce();
    void functionGetsEveryLineInOrder();
    void receiverInAnotherThread();
    void nonMatchingMemberDeliversNothing_data();
    void nonMatchingMemberDeliversNothing();

private:
    QThread worker;
};

void LogerDestinations::init()
{
    Logger::destroyInstance();
    worker.start();
}

void LogerDestinations::cleanup()
{
    Logger::destroyInstance();
    worker.quit();
    worker.wait();
}

void LogerDestinations::debugOutputPrintsEachLineAtOnce()
{
    DestinationPtr destination = DestinationFactory::MakeDebugOutputDestination();
    QVERIFY(destination->isValid());

    static char buffer[4096];
    ErrorStreamCapture capture;
    // Fully buffered, so only the destination's own flush can make a line show.
    std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
    destination->write(QStringLiteral("alpha"), Trace);
    const QByteArray afterFirst = capture.written();
    destination->write(QString::fromUtf8("b\xc3\xa9ta"), Off);
    destination->write(QString(), Error);
    const QByteArray afterAll = capture.written();
    std::setvbuf(stderr, nullptr, _IONBF, 0);

    QCOMPARE(afterFirst, QByteArray("alpha\n"));
    QCOMPARE(afterAll, QByteArray("alpha\nb\xc3\xa9ta\n\n"));
    QVERIFY(destination->isValid());
}

void LogerDestinations::functionGetsEveryLineInOrder()
{
    functionCalls.clear();
    DestinationPtr destination = DestinationFactory::MakeFunctorDestination(recordCall);
    QVERIFY(destination->isValid());
    // Made from a function, it emits the signal too.
    QSignalSpy spy(qSharedPointerDynamicCast<FunctorDestination>(destination).data(),
                   &FunctorDestination::logMessageReady);
    Logger::instance().addDestination(destination);

    logThreeLines();
    Logger::destroyInstance();

    QCOMPARE(functionCalls.size(), 3);
    const QList<Level> levels { Trace, Error, Info };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(functionCalls.at(i).line, kThreeLines.at(i));
        QCOMPARE(functionCalls.at(i).level, levels.at(i));
        QCOMPARE(spy.at(i).at(0).toString(), kThreeLines.at(i));
        QCOMPARE(spy.at(i).at(1).toInt(), int(levels.at(i)));
    }
    QCOMPARE(spy.size(), 3);
}

void LogerDestinations::receiverInAnotherThread()
{
    Receiver receiver;
    receiver.moveToThread(&worker);
    DestinationPtr destination = DestinationFactory::MakeFunctorDestination(&receiver, SLOT(take(QString,int)));
    QVERIFY(destination->isValid());
    Logger::instance().addDestination(destination);

    logThreeLines();
    Logger::destroyInstance();

    QTRY_COMPARE(receiver.lines(), kThreeLines);
    QCOMPARE(receiver.levels, QList<int>({ Trace, Error, Info }));
    for (QThread* thread : qAsConst(receiver.threads))
        QCOMPARE(thread, &worker);
}

void LogerDestinations::nonMatchingMemberDeliversNothing_data()
{
    QTest::addColumn<QByteArray>("member");
    QTest::addColumn<QString>("warning");

    QTest::newRow("no such slot") << QByteArray(SLOT(missing(QString,int))) << "No such slot";
    QTest::newRow("arguments swapped") << QByteArray(SLOT(takeSwapped(int,QString))) << "Incompatible sender/receiver arguments";
    QTest::newRow("not marked as slot or signal") << QByteArray("take(QString,int)") << "Use the SLOT or SIGNAL macro";
}

void LogerDestinations::nonMatchingMemberDeliversNothing()
{
    QFETCH(QByteArray, member);
    QFETCH(QString, warning);

    Receiver unmatched;
    Receiver control;
    unmatched.moveToThread(&worker);
    control.moveToThread(&worker);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QObject::connect: .*%1").arg(warning)));
    DestinationPtr destination = DestinationFactory::MakeFunctorDestination(&unmatched, member.constData());
    QVERIFY(destination->isValid());
    Logger::instance().addDestination(destination);
    Logger::instance().addDestination(DestinationFactory::MakeFunctorDestination(&control, SLOT(take(QString,int))));

    logThreeLines();
    Logger::destroyInstance();

    // The control's calls are queued behind any the first destination caused.
    QTRY_COMPARE(control.lines(), kThreeLines);
    QVERIFY(unmatched.lines().isEmpty());
    QVERIFY(destination->isValid());
}

QTEST_GUILESS_MAIN(LogerDestinations)
#include "loger_destinations.moc"
