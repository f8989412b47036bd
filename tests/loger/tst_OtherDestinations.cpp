#include "QuilmLog.h"
#include "QuilmLogDest.h"
#include "QuilmLogDestFunctor.h"
#include "StderrCapture.h"

#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace QuilmLogging;

namespace {

struct Call
{
    QString line;
    Level level;
    QThread* thread;
};

QMutex callMutex;
QList<Call> calls;

void recordCall(const QString& line, Level level)
{
    QMutexLocker lock(&callMutex);
    calls.append({ line, level, QThread::currentThread() });
}

QList<Call> takeCalls()
{
    QMutexLocker lock(&callMutex);
    QList<Call> taken = calls;
    calls.clear();
    return taken;
}

} // namespace

// Lives in its own thread and keeps what reaches its slot there.
class LineReceiver : public QObject
{
    Q_OBJECT

public:
    QStringList lines() const
    {
        QMutexLocker lock(&mutex);
        return received;
    }
    QList<int> levels() const
    {
        QMutexLocker lock(&mutex);
        return receivedLevels;
    }
    bool allInOwnThread() const
    {
        QMutexLocker lock(&mutex);
        return inOwnThread;
    }

public slots:
    void onLogLine(const QString& line, int level)
    {
        QMutexLocker lock(&mutex);
        received.append(line);
        receivedLevels.append(level);
        inOwnThread = inOwnThread && QThread::currentThread() == thread();
    }

private:
    mutable QMutex mutex;
    QStringList received;
    QList<int> receivedLevels;
    bool inOwnThread = true;
};

class OtherDestinationsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void debugOutputPrintsEachLineFlushed();
    void functionCalledOncePerLineInOrder();
    void functionDestinationEmitsToo();
    void receiverInAnotherThread();
    void mismatchedMemberDeliversNothing();

};

void OtherDestinationsTest::init()
{
    Logger::instance().setIncludeTimestamp(false);
    Logger::instance().setLoggingLevel(Trace);
    takeCalls();
}

void OtherDestinationsTest::cleanup()
{
    Logger::destroyInstance();
}

void OtherDestinationsTest::debugOutputPrintsEachLineFlushed()
{
    const QTemporaryDir dir;
    DestinationPtr dest = DestinationFactory::MakeDebugOutputDestination();
    QVERIFY(dest->isValid());

    StderrCapture err(dir.filePath("stderr.txt"));
    dest->write(QStringLiteral("TRACE first"), Trace);
    // Read back without flushing: the destination flushed already.
    QCOMPARE(err.text(), QStringLiteral("TRACE first\n"));
    dest->write(QString::fromUtf8("ERROR grüße"), Error);
    QCOMPARE(err.text(), QString::fromUtf8("TRACE first\nERROR grüße\n"));
    QVERIFY(dest->isValid());
}

void OtherDestinationsTest::functionCalledOncePerLineInOrder()
{
    DestinationPtr dest = DestinationFactory::MakeFunctorDestination(&recordCall);
    QVERIFY(dest->isValid());
    Logger::instance().addDestination(dest);

    QLOG_TRACE() << "a";
    QLOG_WARN() << "b";
    QLOG_FATAL() << "c";
    Logger::destroyInstance();

    const QList<Call> seen = takeCalls();
    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen.at(0).line, QStringLiteral("TRACE a "));
    QCOMPARE(seen.at(1).line, QStringLiteral("WARN  b "));
    QCOMPARE(seen.at(2).line, QStringLiteral("FATAL c "));
    QCOMPARE(seen.at(0).level, Trace);
    QCOMPARE(seen.at(1).level, Warn);
    QCOMPARE(seen.at(2).level, Fatal);
    // The function runs on the writer thread, not on the logging one.
    QVERIFY(seen.at(0).thread != QThread::currentThread());
    QVERIFY(dest->isValid());
}

void OtherDestinationsTest::functionDestinationEmitsToo()
{
    DestinationPtr dest = DestinationFactory::MakeFunctorDestination(&recordCall);
    auto functor = qSharedPointerDynamicCast<FunctorDestination>(dest);
    QVERIFY(functor);
    QSignalSpy spy(functor.data(), &FunctorDestination::logMessageReady);

    dest->write(QStringLiteral("line"), Error);

    QCOMPARE(takeCalls().size(), 1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("line"));
    QCOMPARE(spy.at(0).at(1).toInt(), int(Error));
}

void OtherDestinationsTest::receiverInAnotherThread()
{
    QThread thread;
    LineReceiver receiver;
    receiver.moveToThread(&thread);
    thread.start();

    DestinationPtr dest = DestinationFactory::MakeFunctorDestination(&receiver, SLOT(onLogLine(QString,int)));
    QVERIFY(dest->isValid());
    Logger::instance().addDestination(dest);
    for (int n = 0; n < 100; ++n)
        QLOG_INFO() << n;
    QLOG_ERROR() << "last";
    Logger::destroyInstance();

    QTRY_COMPARE(receiver.lines().size(), 101);
    for (int n = 0; n < 100; ++n)
        QCOMPARE(receiver.lines().at(n), QStringLiteral("INFO  %1 ").arg(n));
    QCOMPARE(receiver.lines().last(), QStringLiteral("ERROR last "));
    QCOMPARE(receiver.levels().first(), int(Info));
    QCOMPARE(receiver.levels().last(), int(Error));
    QVERIFY(receiver.allInOwnThread());

    thread.quit();
    QVERIFY(thread.wait(10000));
}

void OtherDestinationsTest::mismatchedMemberDeliversNothing()
{
    QThread thread;
    LineReceiver receiver;
    receiver.moveToThread(&thread);
    thread.start();

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QObject::connect: .*"));
    DestinationPtr dest = DestinationFactory::MakeFunctorDestination(&receiver, SLOT(onLogLine(int)));
    QVERIFY(dest->isValid());
    Logger::instance().addDestination(dest);
    QLOG_INFO() << "not delivered";
    Logger::destroyInstance();

    // Give a wrongly made queued call the time to arrive.
    QTest::qWait(200);
    QVERIFY(receiver.lines().isEmpty());
    QVERIFY(dest->isValid());

    thread.quit();
    QVERIFY(thread.wait(10000));
}

QTEST_GUILESS_MAIN(OtherDestinationsTest)
#include "tst_OtherDestinations.moc"
