#include "QuilmLogDest.h"
#include "StderrCapture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using namespace QuilmLogging;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Every file below root, by path relative to root, with its content.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readFile(path));
    }
    return files;
}

QString lineNumbered(int n)
{
    return QStringLiteral("line %1").arg(n);
}

DestinationPtr makeRotating(const QString& path, qint64 limit, int ring)
{
    return DestinationFactory::MakeFileDestination(path, SizeBasedRotation, MaxSizeBytes(limit),
                                                   MaxOldLogCount(ring));
}

} // namespace

class FileDestinationTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rotationSequence_data();
    void rotationSequence();
    void openingSearch_data();
    void openingSearch();
    void oversizedBaseIsRotatedAway();
    void sizeLimit_data();
    void sizeLimit();
    void noRotationTruncatesAndGrows_data();
    void noRotationTruncatesAndGrows();
    void ringSizeZeroRemovesAndStops();
    void failedOpenTouchesNothing();
    void failedReopenDropsLinesAndRetries();
    void foldersWithSeparatorsStayUntouched_data();
    void foldersWithSeparatorsStayUntouched();

private:
    QTemporaryDir* sandbox = nullptr;
    QString oldCurrent;
};

void FileDestinationTest::init()
{
    sandbox = new QTemporaryDir;
    QVERIFY(sandbox->isValid());
    oldCurrent = QDir::currentPath();
    // A name formed relative to the working folder would show up here.
    QDir::setCurrent(sandbox->path());
}

void FileDestinationTest::cleanup()
{
    QDir::setCurrent(oldCurrent);
    delete sandbox;
    sandbox = nullptr;
}

void FileDestinationTest::rotationSequence_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("ring");
    QTest::addColumn<QStringList>("names");

    QStringList launch;
    for (int i = 1; i <= 9; ++i)
        launch << QStringLiteral("quilm_lanuch_%1.txt").arg(i);
    launch << "quilm_lanuch.txt";
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (int i = 1; i <= 9; ++i)
            launch << QStringLiteral("quilm_%1.txt").arg(i);
        launch << "quilm.txt";
    }
    QTest::newRow("launch log") << "quilm_lanuch_log.txt" << 10 << launch;

    QStringList server;
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (int i = 1; i <= 9; ++i)
            server << QStringLiteral("server2024-01-31_%1.txt").arg(i);
        server << "server2024-01-31.txt";
    }
    server << "server2024-01-31_1.txt";
    QTest::newRow("server log") << "server2024-01-31.txt" << 10 << server;
    QTest::newRow("ring above 10 acts as 10") << "server2024-01-31.txt" << 15 << server;

    QTest::newRow("ring 1, server log")
        << "server2024-01-31.txt" << 1
        << QStringList({ "server2024-01-31_1.txt", "server2024-01-31_2.txt", "server2024-01-31_3.txt",
                         "server2024-01-31_4.txt" });
    QTest::newRow("ring 1, launch log")
        << "quilm_lanuch_log.txt" << 1
        << QStringList({ "quilm_lanuch.txt", "quilm.txt", "quilm_1.txt", "quilm_2.txt" });
    QTest::newRow("number above the ring") << "app_15.txt" << 10
                                           << QStringList({ "app_16.txt", "app_17.txt", "app_18.txt" });
    QTest::newRow("word after the underscore") << "x_log.txt" << 10 << QStringList({ "x_1.txt", "x_2.txt" });
    QTest::newRow("no extension") << "serverlog" << 3
                                  << QStringList({ "serverlog_1", "serverlog_2", "serverlog", "serverlog_1" });
}

// With a limit of 0 every line rotates, so line n shows the n-th name.
void FileDestinationTest::rotationSequence()
{
    QFETCH(QString, base);
    QFETCH(int, ring);
    QFETCH(QStringList, names);

    const QDir dir(sandbox->path());
    DestinationPtr dest = makeRotating(dir.filePath(base), 0, ring);
    QVERIFY(dest->isValid());

    QMap<QString, QByteArray> expected;
    expected.insert(base, QByteArray());
    for (int n = 0; n < names.size(); ++n) {
        dest->write(lineNumbered(n), Info);
        // A reused name is removed first, so it holds the new line alone.
        const QByteArray line = lineNumbered(n).toUtf8() + '\n';
        QCOMPARE(readFile(dir.filePath(names.at(n))), line);
        expected.insert(names.at(n), line);
    }
    QCOMPARE(snapshot(dir.path()), expected);
}

void FileDestinationTest::openingSearch_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("ring");
    QTest::addColumn<QStringList>("existing"); // "name:size", size -1 for a folder
    QTest::addColumn<QString>("chosen");

    const QString launch = QStringLiteral("quilm_lanuch_log.txt");
    const QString server = QStringLiteral("server2024-01-31.txt");
    QTest::newRow("highest small number wins")
        << launch << 10 << QStringList({ "quilm_lanuch_3.txt:10", "quilm_lanuch_7.txt:10" }) << "quilm_lanuch_7.txt";
    QTest::newRow("file at the limit is skipped")
        << launch << 10 << QStringList({ "quilm_lanuch_3.txt:10", "quilm_lanuch_7.txt:100" }) << "quilm_lanuch_3.txt";
    QTest::newRow("file just below the limit")
        << launch << 10 << QStringList({ "quilm_lanuch_7.txt:99" }) << "quilm_lanuch_7.txt";
    QTest::newRow("number 10 is looked at")
        << launch << 10 << QStringList({ "quilm_lanuch_9.txt:5", "quilm_lanuch_10.txt:5" }) << "quilm_lanuch_10.txt";
    QTest::newRow("none small enough") << launch << 10 << QStringList({ "quilm_lanuch_2.txt:150" }) << launch;
    QTest::newRow("nothing there") << launch << 10 << QStringList() << launch;
    QTest::newRow("folder of a numbered name")
        << launch << 10 << QStringList({ "quilm_lanuch_5.txt:-1", "quilm_lanuch_2.txt:3" }) << "quilm_lanuch_2.txt";
    QTest::newRow("server log") << server << 10 << QStringList({ "server2024-01-31_4.txt:1" }) << "server2024-01-31_4.txt";
    QTest::newRow("ring 1 looks at 1 only") << server << 1 << QStringList({ "server2024-01-31_2.txt:1" }) << server;
    QTest::newRow("ring 1 takes 1")
        << server << 1 << QStringList({ "server2024-01-31_1.txt:1", "server2024-01-31_2.txt:1" })
        << "server2024-01-31_1.txt";
    QTest::newRow("ring 0 opens the path") << server << 0 << QStringList({ "server2024-01-31_1.txt:1" }) << server;
}

void FileDestinationTest::openingSearch()
{
    QFETCH(QString, base);
    QFETCH(int, ring);
    QFETCH(QStringList, existing);
    QFETCH(QString, chosen);

    const QDir dir(sandbox->path());
    for (const QString& entry : existing) {
        const QString name = entry.section(':', 0, 0);
        const int size = entry.section(':', 1).toInt();
        if (size < 0)
            QVERIFY(dir.mkdir(name));
        else
            writeFile(dir.filePath(name), QByteArray(size, 'a'));
    }
    QMap<QString, QByteArray> expected = snapshot(dir.path());

    DestinationPtr dest = makeRotating(dir.filePath(base), 100, ring);
    QVERIFY(dest->isValid());
    dest->write(QStringLiteral("x"), Info);

    expected[chosen] += "x\n";
    QCOMPARE(snapshot(dir.path()), expected);
}

void FileDestinationTest::oversizedBaseIsRotatedAway()
{
    const QDir dir(sandbox->path());
    const QByteArray old(150, 'a');
    writeFile(dir.filePath("quilm_lanuch_log.txt"), old);

    DestinationPtr dest = makeRotating(dir.filePath("quilm_lanuch_log.txt"), 100, 10);
    QVERIFY(dest->isValid());
    dest->write(QStringLiteral("first"), Info);

    QCOMPARE(readFile(dir.filePath("quilm_lanuch_log.txt")), old);
    QCOMPARE(readFile(dir.filePath("quilm_lanuch_1.txt")), QByteArray("first\n"));
}

void FileDestinationTest::sizeLimit_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("files"); // where each line lands

    const QString ten = QStringLiteral("0123456789");
    QTest::newRow("count equal to the limit stays")
        << qint64(20) << QStringList({ ten, ten }) << QStringList({ "app.log", "app.log" });
    QTest::newRow("one byte more rotates")
        << qint64(20) << QStringList({ ten, ten + 'x' }) << QStringList({ "app.log", "app_1.log" });
    QTest::newRow("rotating line not counted in the new file")
        << qint64(20) << QStringList({ ten + "abcde", ten, ten, ten })
        << QStringList({ "app.log", "app_1.log", "app_1.log", "app_1.log" });
    QTest::newRow("utf-8 length counted")
        << qint64(10) << QStringList({ QString::fromUtf8("ääääa"), "a", "a" })
        << QStringList({ "app.log", "app.log", "app_1.log" });
}

void FileDestinationTest::sizeLimit()
{
    QFETCH(qint64, limit);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, files);

    const QDir dir(sandbox->path());
    DestinationPtr dest = makeRotating(dir.filePath("app.log"), limit, 10);
    QMap<QString, QByteArray> expected;
    expected.insert("app.log", QByteArray());
    for (int n = 0; n < lines.size(); ++n) {
        dest->write(lines.at(n), Warn);
        expected[files.at(n)] += lines.at(n).toUtf8() + '\n';
    }
    QCOMPARE(snapshot(dir.path()), expected);
}

void FileDestinationTest::noRotationTruncatesAndGrows_data()
{
    QTest::addColumn<int>("option");

    QTest::newRow("NoRotation") << int(NoRotation);
    QTest::newRow("unknown option") << 2;
}

void FileDestinationTest::noRotationTruncatesAndGrows()
{
    QFETCH(int, option);

    const QDir dir(sandbox->path());
    const QString path = dir.filePath("plain_log.txt");
    writeFile(path, "old line\n");
    writeFile(dir.filePath("plain_3.txt"), "small\n");

    DestinationPtr dest = DestinationFactory::MakeFileDestination(
        path, static_cast<LogRotationOption>(option), MaxSizeBytes(10), MaxOldLogCount(10));
    QVERIFY(dest->isValid());
    QCOMPARE(QFileInfo(path).size(), qint64(0));

    QByteArray expected;
    for (int n = 0; n < 50; ++n) {
        dest->write(lineNumbered(n), Info);
        expected += lineNumbered(n).toUtf8() + '\n';
    }
    QCOMPARE(readFile(path), expected);
    QCOMPARE(readFile(dir.filePath("plain_3.txt")), QByteArray("small\n"));
    QCOMPARE(snapshot(dir.path()).size(), 2);
}

void FileDestinationTest::ringSizeZeroRemovesAndStops()
{
    const QDir dir(sandbox->path());
    const QString path = dir.filePath("logs/app.log");
    QVERIFY(dir.mkdir("logs"));
    writeFile(path, "kept until the first rotation\n");

    const QTemporaryDir errDir;
    StderrCapture err(errDir.filePath("stderr.txt"));
    DestinationPtr dest = makeRotating(path, 0, 0);
    QVERIFY(dest->isValid());

    dest->write(QStringLiteral("one"), Info);
    QVERIFY(!QFile::exists(path));
    dest->write(QStringLiteral("two"), Info);

    QCOMPARE(err.text(), "QuilmLog: could not reopen log file "
                         "QuilmLog: backup delete failed " + path + "QuilmLog: could not reopen log file ");
    QVERIFY(!dest->isValid());
    QVERIFY(snapshot(dir.path()).isEmpty());
}

void FileDestinationTest::failedOpenTouchesNothing()
{
    const QDir dir(sandbox->path());
    const QString path = dir.filePath("missing_dir/app_log.txt");

    const QTemporaryDir errDir;
    StderrCapture err(errDir.filePath("stderr.txt"));
    DestinationPtr dest = makeRotating(path, 0, 10);
    QVERIFY(!dest.isNull());
    QVERIFY(!dest->isValid());
    QCOMPARE(err.text(), "QuilmLog: could not open log file " + path);

    dest->write(QStringLiteral("lost"), Info);
    QCOMPARE(err.text(), "QuilmLog: could not open log file " + path + "QuilmLog: could not reopen log file ");
    QVERIFY(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

void FileDestinationTest::failedReopenDropsLinesAndRetries()
{
    const QDir dir(sandbox->path());
    const QString path = dir.filePath("app.log");
    QVERIFY(dir.mkdir("app_1.log"));

    const QTemporaryDir errDir;
    StderrCapture err(errDir.filePath("stderr.txt"));
    DestinationPtr dest = makeRotating(path, 0, 10);
    dest->write(QStringLiteral("dropped 1"), Info);
    dest->write(QStringLiteral("dropped 2"), Info);
    const QString failure = "QuilmLog: could not reopen log file " + dir.filePath("app_1.log");
    QCOMPARE(err.text(), failure + failure);

    QVERIFY(dir.rmdir("app_1.log"));
    dest->write(QStringLiteral("written"), Info);
    QVERIFY(dest->isValid());
    QCOMPARE(readFile(dir.filePath("app_1.log")), QByteArray("written\n"));
    QCOMPARE(readFile(path), QByteArray());
}

void FileDestinationTest::foldersWithSeparatorsStayUntouched_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("decoys"); // files that rules over the whole path would reach

    QTest::newRow("underscore folder, name without underscore")
        << "a_b/c_d" << "quilm.txt" << QStringList({ "quilm_1.txt", "quilm_2.txt" })
        << QStringList({ "a_b/c_1.txt", "a_b/c_3.txt", "a_b/c_10.txt" });
    QTest::newRow("dotted folder, name without dot")
        << "x.y" << "serverlog" << QStringList({ "serverlog_1", "serverlog_2" })
        << QStringList({ "x_1.y/serverlog", "x_1" });
    QTest::newRow("launch log drifting under an underscore folder")
        << "home_user.d" << "quilm_lanuch_log.txt"
        << QStringList({ "quilm_lanuch_1.txt", "quilm_lanuch_2.txt", "quilm_lanuch.txt", "quilm_1.txt",
                         "quilm_2.txt", "quilm.txt", "quilm_1.txt" })
        << QStringList({ "home_1.txt", "home_user_1.txt" });
}

void FileDestinationTest::foldersWithSeparatorsStayUntouched()
{
    QFETCH(QString, folder);
    QFETCH(QString, base);
    QFETCH(QStringList, names);
    QFETCH(QStringList, decoys);

    const QDir root(sandbox->path());
    QVERIFY(root.mkpath(folder));
    for (const QString& decoy : decoys) {
        QVERIFY(root.mkpath(QFileInfo(decoy).path()));
        writeFile(root.filePath(decoy), "decoy\n");
    }
    QMap<QString, QByteArray> expected = snapshot(root.path());

    const QDir dir(root.filePath(folder));
    DestinationPtr dest = makeRotating(dir.filePath(base), 0, 3);
    QVERIFY(dest->isValid());
    expected.insert(folder + '/' + base, QByteArray());
    for (int n = 0; n < names.size(); ++n) {
        dest->write(lineNumbered(n), Info);
        expected[folder + '/' + names.at(n)] = lineNumbered(n).toUtf8() + '\n';
    }
    QCOMPARE(snapshot(root.path()), expected);
}

QTEST_GUILESS_MAIN(FileDestinationTest)
#include "tst_FileDestination.moc"
