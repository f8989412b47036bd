// The debug-output destination on the standard error stream, and the functor
// destination with a function and with a receiver living in another thread.
#include "QuilmLog.h"
#include "QuilmLogDestConsole.h"
#include "QuilmLogDestFunctor.h"
#include "StderrCapture.h"

#include <QMutex>
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
    QThread* thread;
};

QMutex callMutex;
QList<Call> functionCalls;

void recordCall(const QString& line, Level level)
{
    QMutexLocker lock(&callMutex);
    functionCalls.append({line, level, QThread::currentThread()});
}

QList<Call> takeCalls()
{
    QMutexLocker lock(&callMutex);
    const QList<Call> taken = functionCalls;
    functionCalls.clear();
    return taken;
}

// One line per level, each through its own macro.
void logEveryLevel()
{
    QLOG_TRACE() << "first";
    QLOG_ERROR() << "second";
    QLOG_INFO() << "third";
    QLOG_WARN() << "fourth";
    QLOG_FATAL() << "fifth";
    QLOG_DEBUG() << "sixth";
}

const QStringList kEveryLevel{"TRACE first ",  "ERROR second ", "INFO  third ",
                              "WARN  fourth ", "FATAL fifth ",  "DEBUG sixth "};
const QList<int> kEveryLevelLevels{Trace, Error, Info, Warn, Fatal, Debug};

} // namespace

// Keeps what reaches its slot, and in which thread it ran.
class Receiver : public QObject
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
    QList<QThread*> threads() const
    {
        QMutexLocker lock(&mutex);
        return receivedIn;
    }

public slots:
    void take(const QString& line, int level)
    {
        QMutexLocker lock(&mutex);
        received.append(line);
        receivedLevels.append(level);
        receivedIn.append(QThread::currentThread());
    }
    void takeSwapped(int, const QString& line) { take(line, -1); }

private:
    mutable QMutex mutex;
    QStringList received;
    QList<int> receivedLevels;
    QList<QThread*> receivedIn;
};

class TestDestinations : public QObject
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

void TestDestinations::init()
{
    Logger::destroyInstance();
    Logger::instance().setLoggingLevel(Trace);
    Logger::instance().setIncludeTimestamp(false);
    takeCalls();
    worker.start();
}

void TestDestinations::cleanup()
{
    Logger::destroyInstance();
    worker.quit();
    QVERIFY(worker.wait(10000));
}

void TestDestinations::debugOutputPrintsEachLineAtOnce()
{
    DestinationPtr destination = DestinationFactory::MakeDebugOutputDestination();
    QVERIFY(destination->isValid());

    const QList<QPair<QString, Level>> lines{
        {QStringLiteral("alpha"), Trace},
        {QString::fromUtf8("b\xc3\xa9ta"), Off},
        {QString(), Error},
        {QStringLiteral("TRACE first"), Trace},
        {QString::fromUtf8("ERROR gr\xc3\xbc\xc3\x9f"
                           "e"),
         Error},
    };
    static char buffer[4096];
    QList<QByteArray> seen;
    {
        StderrCapture capture;
        // Fully buffered, so only the destination's own flush can make a line show.
        std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
        for (const auto& line : lines) {
            destination->write(line.first, line.second);
            seen.append(capture.written());
        }
        std::setvbuf(stderr, nullptr, _IONBF, 0);
    }

    QByteArray expected;
    for (int n = 0; n < lines.size(); ++n) {
        expected += lines.at(n).first.toUtf8() + '\n';
        QCOMPARE(seen.at(n), expected);
    }
    QVERIFY(destination->isValid());
}

void TestDestinations::functionGetsEveryLineInOrder()
{
    DestinationPtr destination = DestinationFactory::MakeFunctorDestination(recordCall);
    QVERIFY(destination->isValid());
    // Made from a function, it emits the signal too.
    const auto functor = qSharedPointerDynamicCast<FunctorDestination>(destination);
    QVERIFY(functor);
    QSignalSpy spy(functor.data(), &FunctorDestination::logMessageReady);
    Logger::instance().addDestination(destination);

    logEveryLevel();
    Logger::destroyInstance();

    const QList<Call> calls = takeCalls();
    QCOMPARE(calls.size(), kEveryLevel.size());
    QCOMPARE(spy.size(), kEveryLevel.size());
    for (int i = 0; i < kEveryLevel.size(); ++i) {
        QCOMPARE(calls.at(i).line, kEveryLevel.at(i));
        QCOMPARE(int(calls.at(i).level), kEveryLevelLevels.at(i));
        // The function runs on the writer thread, not on the logging one.
        QVERIFY(calls.at(i).thread != QThread::currentThread());
        QCOMPARE(spy.at(i).at(0).toString(), kEveryLevel.at(i));
        QCOMPARE(spy.at(i).at(1).toInt(), kEveryLevelLevels.at(i));
    }
    QVERIFY(destination->isValid());
}

void TestDestinations::receiverInAnotherThread()
{
    Receiver receiver;
    receiver.moveToThread(&worker);
    DestinationPtr destination = DestinationFactory::MakeFunctorDestination(&receiver, SLOT(take(QString, int)));
    QVERIFY(destination->isValid());
    Logger::instance().addDestination(destination);

    QStringList expected;
    QList<int> expectedLevels;
    for (int n = 0; n < 100; ++n) {
        QLOG_INFO() << n;
        expected << QStringLiteral("INFO  %1 ").arg(n);
        expectedLevels << Info;
    }
    logEveryLevel();
    expected << kEveryLevel;
    expectedLevels << kEveryLevelLevels;
    Logger::destroyInstance();

    QTRY_COMPARE(receiver.lines(), expected);
    QCOMPARE(receiver.levels(), expectedLevels);
    for (QThread* thread : receiver.threads())
        QCOMPARE(thread, &worker);
}

void TestDestinations::nonMatchingMemberDeliversNothing_data()
{
    QTest::addColumn<QByteArray>("member");
    QTest::addColumn<QString>("warning");

    QTest::newRow("no such slot") << QByteArray(SLOT(missing(QString, int))) << "No such slot";
    QTest::newRow("slot's name with other arguments") << QByteArray(SLOT(take(int))) << "No such slot";
    QTest::newRow("arguments swapped") << QByteArray(SLOT(takeSwapped(int, QString)))
                                       << "Incompatible sender/receiver arguments";
    QTest::newRow("not marked as slot or signal") << QByteArray("take(QString,int)") << "Use the SLOT or SIGNAL macro";
}

void TestDestinations::nonMatchingMemberDeliversNothing()
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
    Logger::instance().addDestination(DestinationFactory::MakeFunctorDestination(&control, SLOT(take(QString, int))));

    logEveryLevel();
    Logger::destroyInstance();

    // The control's calls are queued behind any the first destination caused.
    QTRY_COMPARE(control.lines(), kEveryLevel);
    QVERIFY(unmatched.lines().isEmpty());
    QVERIFY(destination->isValid());
}

QTEST_GUILESS_MAIN(TestDestinations)
#include "tst_Destinations.moc"
