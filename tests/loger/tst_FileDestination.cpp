// The file destination apart from its rotation ring: a plain file emptied on
// opening, and what it does when its file cannot be opened, reopened or removed.
#include "LoggerFixture.h"
#include "QuilmLogDest.h"
#include "SandboxFiles.h"
#include "StderrCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>

using namespace QuilmLogging;

class TestFileDestination : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void noRotationTruncatesAndGrows_data();
    void noRotationTruncatesAndGrows();
    void ringSizeZeroRemovesAndStops();
    void failedOpenTouchesNothing();
    void failedReopenDropsLinesAndRetries();

private:
    std::unique_ptr<WorkingFolderSandbox> sandbox;
    QDir root;
};

void TestFileDestination::init()
{
    sandbox.reset(new WorkingFolderSandbox);
    QVERIFY(sandbox->isValid());
    root.setPath(sandbox->path());
}

void TestFileDestination::cleanup()
{
    sandbox.reset();
}

void TestFileDestination::noRotationTruncatesAndGrows_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<QByteArray>("old");

    QTest::newRow("NoRotation") << int(NoRotation) << QByteArray("old line\n");
    QTest::newRow("unknown option") << 2 << QByteArray("old line\n");
    QTest::newRow("NoRotation, file over the limit") << int(NoRotation) << QByteArray(500, 'o');
    QTest::newRow("any value but 1, file over the limit") << 7 << QByteArray(500, 'o');
}

// Every line longer than the limit, and numbered names the size rotation
// would continue: none of it matters without rotation.
void TestFileDestination::noRotationTruncatesAndGrows()
{
    QFETCH(int, option);
    QFETCH(QByteArray, old);

    const QString path = root.filePath("plain_log.txt");
    writeFile(path, old);
    writeFile(root.filePath("plain_1.txt"), "x");
    writeFile(root.filePath("plain_3.txt"), "small\n");

    DestinationPtr dest = DestinationFactory::MakeFileDestination(path, static_cast<LogRotationOption>(option),
                                                                  MaxSizeBytes(10), MaxOldLogCount(10));
    QVERIFY(dest->isValid());
    QCOMPARE(QFileInfo(path).size(), qint64(0));

    QByteArray expected;
    for (int n = 0; n < 100; ++n) {
        const QString line = QString::fromUtf8("line %1 0123456789\xc3\xa9").arg(n);
        dest->write(line, Info);
        expected += line.toLocal8Bit() + '\n';
    }
    dest.reset();

    QMap<QString, QByteArray> files;
    files.insert("plain_log.txt", expected);
    files.insert("plain_1.txt", "x");
    files.insert("plain_3.txt", "small\n");
    QCOMPARE(snapshot(root.path()), files);
}

void TestFileDestination::ringSizeZeroRemovesAndStops()
{
    const QString path = root.filePath("logs/app.log");
    QVERIFY(root.mkdir("logs"));
    writeFile(path, "kept until the first rotation\n");

    StderrCapture err;
    DestinationPtr dest = makeRotating(path, 0, 0);
    QVERIFY(dest->isValid());

    dest->write(QStringLiteral("one"), Info);
    QVERIFY(!QFile::exists(path));
    dest->write(QStringLiteral("two"), Info);

    QCOMPARE(err.written(), "QuilmLog: could not reopen log file "
                            "QuilmLog: backup delete failed "
                                + path.toLocal8Bit() + "QuilmLog: could not reopen log file ");
    QVERIFY(!dest->isValid());
    QVERIFY(snapshot(root.path()).isEmpty());
}

void TestFileDestination::failedOpenTouchesNothing()
{
    const QString path = root.filePath("missing_dir/app_log.txt");

    StderrCapture err;
    DestinationPtr dest = makeRotating(path, 0, 10);
    QVERIFY(!dest.isNull());
    QVERIFY(!dest->isValid());
    const QByteArray openFailure = "QuilmLog: could not open log file " + path.toLocal8Bit();
    QCOMPARE(err.written(), openFailure);

    dest->write(QStringLiteral("lost"), Info);
    QCOMPARE(err.written(), openFailure + "QuilmLog: could not reopen log file ");
    QVERIFY(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

void TestFileDestination::failedReopenDropsLinesAndRetries()
{
    const QString path = root.filePath("app.log");
    QVERIFY(root.mkdir("app_1.log"));

    StderrCapture err;
    DestinationPtr dest = makeRotating(path, 0, 10);
    dest->write(QStringLiteral("dropped 1"), Info);
    dest->write(QStringLiteral("dropped 2"), Info);
    const QByteArray failure = "QuilmLog: could not reopen log file " + root.filePath("app_1.log").toLocal8Bit();
    QCOMPARE(err.written(), failure + failure);

    QVERIFY(root.rmdir("app_1.log"));
    dest->write(QStringLiteral("written"), Info);
    QVERIFY(dest->isValid());
    QCOMPARE(readFile(root.filePath("app_1.log")), QByteArray("written\n"));
    QCOMPARE(readFile(path), QByteArray());
}

QTEST_GUILESS_MAIN(TestFileDestination)
#include "tst_FileDestination.moc"
