#include "GlobalConfig.h"
#include "Locations.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "UpgradeFlags.h"
#include "ZipFixture.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The distinct start of each log row of the decision.
const QStringList rowTexts = {
    "[main] toUpgradePath:",
    "[main] run if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) patchToolVersion:",
    "[main] run if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) check file versions, upgradeFileVersion:",
    "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) find invalid upgrade file, and remove it",
    "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) invalid upgrade file, and remove it",
    "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) isToUpgradeTool regard as:",
    "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) isToUpgradeTool set as:",
    "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) end, and isToUpgradeTool:",
    "[main] main function called, and gConfig.is_upgrade_tool:",
    "[main] gConfig.is_upgrade_tool set as false, and isToUpgradeTool:",
    "[main] gConfig.is_upgrade_tool set as true, and isToUpgradeTool:",
};

// The entries of a bundle "Salvix Setup.app" of the given version.
QList<ZipEntry> setupBundle(const QString& version)
{
    return {{ZipEntry::Dir, "Salvix Setup.app/", {}},
            {ZipEntry::Dir, "Salvix Setup.app/Contents/", {}},
            {ZipEntry::Dir, "Salvix Setup.app/Contents/MacOS/", {}},
            {ZipEntry::File, "Salvix Setup.app/Contents/MacOS/Salvix Setup", "new program"},
            {ZipEntry::File, "Salvix Setup.app/Contents/Info.plist", Sandbox::infoPlist(version)}};
}

// Runs the decision of a case (b) start on a thread of its own, so that a decision
// that blocks on a named pipe fails the test instead of stopping it: after the wait
// the pipes are opened for writing, which lets a blocked reader go on.
bool decideWithin(int milliseconds, QString& toUpgradePath, const QStringList& pipes)
{
    const QFileInfo running(QDir::homePath() + "/Salvix Setup.app/Contents/MacOS/Salvix Setup");
    QByteArray program = "Salvix Setup";
    char* argv[] = {program.data(), nullptr};
    QThread* thread = QThread::create(
        [&toUpgradePath, running, &argv] { decideUpgradeFlags(toUpgradePath, running, getMainToolPath(), 1, argv); });
    thread->start();
    const bool finished = thread->wait(milliseconds);
    while (!thread->isFinished()) {
        for (const QString& pipe : pipes) {
            const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        thread->wait(100);
    }
    delete thread;
    return finished;
}

QStringList upgradeFolderEntries()
{
    return QDir(getUpgradeFolder())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestUpgradeFlags : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decision_data();
    void decision();
    void rowTextsOfAnAcceptedDownload();
    void onlyAnAcceptedArchivesContentStays_data();
    void onlyAnAcceptedArchivesContentStays();
    void pipeInPlaceOfAFileIsRejected_data();
    void pipeInPlaceOfAFileIsRejected();
};

void TestUpgradeFlags::initTestCase()
{
    LogCapture::install();
    LogCapture::flush();
}

void TestUpgradeFlags::decision_data()
{
    QTest::addColumn<QString>("installed"); // null: no installed Salvix
    QTest::addColumn<QString>("running"); // the running program's version
    QTest::addColumn<QString>("archive"); // "none", "downloaded" (case b), "running" (case a)
    QTest::addColumn<QString>("archiveVersion"); // of the bundle in a downloaded archive; null: no bundle
    QTest::addColumn<QString>("check"); // "good", "wrong", "missing"
    QTest::addColumn<QString>("word"); // argv[2]; null: only two arguments
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("flags"); // set flags: f force, u is_upgrade_tool, r reminder
    QTest::addColumn<QList<int>>("rows");

    const QString none;
    QTest::newRow("no archive") << "3.1.0"
                                << "3.2.0"
                                << "none" << none << "missing" << none << false << "" << QList<int>{1, 9};
    QTest::newRow("no archive, no installed Salvix")
        << none << "3.2.0"
        << "none" << none << "missing" << none << false << "" << QList<int>{1, 9, 10};
    QTest::newRow("(b) accepted") << "3.1.0"
                                  << "3.2.0"
                                  << "downloaded"
                                  << "3.3.0"
                                  << "good" << none << true << "" << QList<int>{1, 3, 7, 8, 9};
    QTest::newRow("(b) without check file") << "3.1.0"
                                            << "3.2.0"
                                            << "downloaded"
                                            << "3.3.0"
                                            << "missing" << none << false << "" << QList<int>{1, 3, 5, 8, 9};
    QTest::newRow("(b) wrong digest") << "3.1.0"
                                      << "3.2.0"
                                      << "downloaded"
                                      << "3.3.0"
                                      << "wrong" << none << false << "" << QList<int>{1, 3, 5, 8, 9};
    QTest::newRow("(b) same version as installed") << "3.3.0"
                                                   << "3.2.0"
                                                   << "downloaded"
                                                   << "3.3.0"
                                                   << "good" << none << false << "" << QList<int>{1, 3, 5, 8, 9};
    QTest::newRow("(b) newer than running, not than installed")
        << "3.4.0"
        << "3.2.0"
        << "downloaded"
        << "3.3.0"
        << "good" << none << false << "" << QList<int>{1, 3, 5, 8, 9};
    QTest::newRow("(b) newer than installed, not than running")
        << "3.0.0"
        << "3.3.0"
        << "downloaded"
        << "3.2.0"
        << "good" << none << false << "" << QList<int>{1, 3, 5, 8, 9};
    QTest::newRow("(b) no bundle in the archive")
        << "3.1.0"
        << "3.2.0"
        << "downloaded" << none << "good" << none << false << "" << QList<int>{1, 3, 5, 8, 9};
    QTest::newRow("(b) no installed Salvix") << none << "3.2.0"
                                             << "downloaded"
                                             << "3.3.0"
                                             << "good" << none << false << "" << QList<int>{1, 3, 5, 8, 9, 10};
    QTest::newRow("(a) accepted and forced") << "3.1.0"
                                             << "3.2.0"
                                             << "running" << none << "good"
                                             << "force_upgrade_tool" << true << "fu" << QList<int>{1, 2, 6, 8, 9, 11};
    QTest::newRow("(a) word in capitals") << "3.1.0"
                                          << "3.2.0"
                                          << "running" << none << "good"
                                          << "FORCE_UPGRADE_TOOL" << true << "r" << QList<int>{1, 2, 6, 8, 9};
    QTest::newRow("(a) too few arguments")
        << "3.1.0"
        << "3.2.0"
        << "running" << none << "good" << none << true << "r" << QList<int>{1, 2, 6, 8, 9};
    QTest::newRow("(a) no running version")
        << "3.1.0"
        << ""
        << "running" << none << "good" << none << false << "" << QList<int>{1, 2, 4, 8, 9};
    QTest::newRow("(a) wrong digest") << "3.1.0"
                                      << "3.2.0"
                                      << "running" << none << "wrong" << none << false << ""
                                      << QList<int>{1, 2, 4, 8, 9};
    QTest::newRow("(a) not newer than installed")
        << "3.2.0"
        << "3.2.0"
        << "running" << none << "good" << none << false << "" << QList<int>{1, 2, 4, 8, 9};
    QTest::newRow("(a) no installed Salvix") << none << "3.2.0"
                                             << "running" << none << "good"
                                             << "force_upgrade_tool" << false << "" << QList<int>{1, 2, 4, 8, 9, 10};
}

void TestUpgradeFlags::decision()
{
    QFETCH(QString, installed);
    QFETCH(QString, running);
    QFETCH(QString, archive);
    QFETCH(QString, archiveVersion);
    QFETCH(QString, check);
    QFETCH(QString, word);
    QFETCH(bool, accepted);
    QFETCH(QString, flags);
    QFETCH(QList<int>, rows);

    Sandbox sandbox;
    gConfig = GlobalConfig();
    QCoreApplication::setApplicationVersion(running);

    const QString app = sandbox.applications() + "/Salvix.app/Contents";
    if (!installed.isNull()) {
        QVERIFY(Sandbox::write(app + "/Info.plist", Sandbox::infoPlist(installed)));
        QVERIFY(Sandbox::write(app + "/MacOS/Salvix", "program"));
    }

    const QString archivePath = getToUpgradeFilePath();
    if (archive == "downloaded") {
        // The zip reader makes only the folders that have entries of their own.
        QList<ZipEntry> entries = {{ZipEntry::Dir, "Salvix Setup.app/", {}},
                                   {ZipEntry::Dir, "Salvix Setup.app/Contents/", {}},
                                   {ZipEntry::Dir, "Salvix Setup.app/Contents/MacOS/", {}},
                                   {ZipEntry::File, "Salvix Setup.app/Contents/MacOS/Salvix Setup", "new program"}};
        if (!archiveVersion.isNull())
            entries.append(
                {ZipEntry::File, "Salvix Setup.app/Contents/Info.plist", Sandbox::infoPlist(archiveVersion)});
        QVERIFY(QDir().mkpath(getUpgradeFolder()));
        QVERIFY(writeZip(archivePath, entries));
    } else if (archive == "running") {
        QVERIFY(Sandbox::write(archivePath, "the running program"));
    }
    const QString checkPath = sandbox.userFolder() + "/Upgrade/Salvix Setup.dat";
    if (check == "good")
        QVERIFY(Sandbox::write(checkPath, Sandbox::sha1Hex(archivePath).toUpper() + "\n"));
    else if (check == "wrong")
        QVERIFY(Sandbox::write(checkPath, "0000000000000000000000000000000000000000"));

    const QFileInfo fileInfo1(
        archive == "running" ? archivePath : sandbox.applications() + "/Salvix Setup.app/Contents/MacOS/Salvix Setup");
    QByteArray program = "Salvix Setup";
    QByteArray first = "-psn";
    QByteArray third = word.toUtf8();
    char* argv[] = {program.data(), first.data(), third.data(), nullptr};
    const int argc = word.isNull() ? 2 : 3;

    QString toUpgradePath = QDir::toNativeSeparators(archivePath).trimmed();
    LogCapture::flush();
    const bool isToUpgradeTool = decideUpgradeFlags(toUpgradePath, fileInfo1, getMainToolPath(), argc, argv);
    const QStringList log = LogCapture::flush();

    QCOMPARE(gConfig.possible_patch_tool_to_upgrade, accepted);
    QCOMPARE(isToUpgradeTool, accepted && archive == "running");
    QCOMPARE(gConfig.force_upgrade_tool, flags.contains('f'));
    QCOMPARE(gConfig.is_upgrade_tool, flags.contains('u'));
    QCOMPARE(gConfig.to_upgrade_reminder, flags.contains('r'));
    QCOMPARE(gConfig.upgrade_reminder_declined, false);
    if (archive != "none") {
        QCOMPARE(QFile::exists(archivePath), accepted);
        QCOMPARE(toUpgradePath.isEmpty(), !accepted);
        // The check file stays, whatever the outcome.
        QCOMPARE(QFile::exists(checkPath), check != "missing");
    }
    if (archive == "downloaded")
        QCOMPARE(QFile::exists(getUpgradeFolder() + "/Salvix Setup.app/Contents/MacOS/Salvix Setup"), accepted);
    QVERIFY(!QFileInfo::exists(sandbox.userFolder() + "/UpgradeStaging"));

    QList<int> logged;
    for (const QString& line : log) {
        for (int row = 0; row < rowTexts.size(); ++row) {
            if (line.contains(rowTexts.at(row)))
                logged.append(row + 1);
        }
    }
    QCOMPARE(logged, rows);
    for (const QString& line : log)
        QVERIFY2(line.startsWith("INFO "), qPrintable(line));
}

// The items of rows 7 and 8 as the message stream writes them.
void TestUpgradeFlags::rowTextsOfAnAcceptedDownload()
{
    Sandbox sandbox;
    gConfig = GlobalConfig();
    QCoreApplication::setApplicationVersion("3.2.0");
    QVERIFY(Sandbox::write(sandbox.applications() + "/Salvix.app/Contents/Info.plist", Sandbox::infoPlist("3.1.0")));
    const QString archivePath = getToUpgradeFilePath();
    QVERIFY(QDir().mkpath(getUpgradeFolder()));
    QVERIFY(
        writeZip(archivePath, {{ZipEntry::Dir, "Salvix Setup.app/", {}},
                               {ZipEntry::Dir, "Salvix Setup.app/Contents/", {}},
                               {ZipEntry::File, "Salvix Setup.app/Contents/Info.plist", Sandbox::infoPlist("3.3.0")}}));
    QVERIFY(Sandbox::write(sandbox.userFolder() + "/Upgrade/Salvix Setup.dat", Sandbox::sha1Hex(archivePath)));
    const QString running = sandbox.path() + "/Salvix Setup.app/Contents/MacOS/Salvix Setup";

    QString toUpgradePath = archivePath;
    QByteArray program = "Salvix Setup";
    char* argv[] = {program.data(), nullptr};
    LogCapture::flush();
    QVERIFY(!decideUpgradeFlags(toUpgradePath, QFileInfo(running), getMainToolPath(), 1, argv));
    const QStringList log = LogCapture::flush();

    QCOMPARE(log.size(), 5);
    QVERIFY2(log.at(0).endsWith("[main] toUpgradePath: \"" + archivePath + "\" , and isExist(toUpgradePath): true "),
             qPrintable(log.at(0)));
    QVERIFY2(log.at(1).endsWith("check file versions, upgradeFileVersion: \"3.3.0\" patchToolVersion: \"3.2.0\" "
                                "mainToolVersion: \"3.1.0\" "),
             qPrintable(log.at(1)));
    QVERIFY2(log.at(2).endsWith("isToUpgradeTool set as: false , and fileInfo1.absoluteFilePath() =  \"" + running
                                + "\" , and fileInfo2.absoluteFilePath() =  \"" + archivePath + "\" "),
             qPrintable(log.at(2)));
    QVERIFY2(log.at(3).endsWith("end, and isToUpgradeTool: false "), qPrintable(log.at(3)));
    QVERIFY2(log.at(4).endsWith("[main] main function called, and gConfig.is_upgrade_tool: false "),
             qPrintable(log.at(4)));
}

// Case (b) judges the archive on its own content: what earlier runs left in the upgrade
// folder is neither read as the archive's bundle nor kept beside an accepted archive's
// content, and a rejected archive leaves nothing of its content behind.
void TestUpgradeFlags::onlyAnAcceptedArchivesContentStays_data()
{
    QTest::addColumn<bool>("earlierContent"); // a bundle of version 3.3.0 and Salvix's videos from an earlier run
    QTest::addColumn<QString>("archiveVersion"); // of the archive's bundle; null: the archive holds videos only
    QTest::addColumn<bool>("goodDigest");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("entries"); // the upgrade folder's afterwards

    const QStringList onlyCheckFile{"Salvix Setup.dat"};
    const QStringList acceptedContent{"Salvix Setup.app", "Salvix Setup.dat", "Salvix Setup.zip"};
    QTest::newRow("earlier bundle is not the archive's") << true << QString() << true << false << onlyCheckFile;
    QTest::newRow("accepted archive replaces earlier content") << true << "3.3.0" << true << true << acceptedContent;
    QTest::newRow("rejected archive leaves none of its content") << false << "3.3.0" << false << false << onlyCheckFile;
    QTest::newRow("rejected archive clears earlier content") << true << "3.3.0" << false << false << onlyCheckFile;
}

void TestUpgradeFlags::onlyAnAcceptedArchivesContentStays()
{
    QFETCH(bool, earlierContent);
    QFETCH(QString, archiveVersion);
    QFETCH(bool, goodDigest);
    QFETCH(bool, accepted);
    QFETCH(QStringList, entries);

    Sandbox sandbox;
    gConfig = GlobalConfig();
    QCoreApplication::setApplicationVersion("3.2.0");
    QVERIFY(Sandbox::write(sandbox.applications() + "/Salvix.app/Contents/Info.plist", Sandbox::infoPlist("3.1.0")));
    const QString upgrade = getUpgradeFolder();
    const QString earlierVideo = upgrade + "/Salvix.app/Contents/Resources/image/background/light_2K/Scan/Scan.mp4";
    if (earlierContent) {
        QVERIFY(Sandbox::write(upgrade + "/Salvix Setup.app/Contents/Info.plist", Sandbox::infoPlist("3.3.0")));
        QVERIFY(Sandbox::write(upgrade + "/Salvix Setup.app/Contents/MacOS/Salvix Setup", "earlier program"));
        QVERIFY(Sandbox::write(earlierVideo, "earlier video"));
    }
    QList<ZipEntry> archive = {{ZipEntry::Dir, "Salvix.app/", {}},
                               {ZipEntry::Dir, "Salvix.app/Contents/", {}},
                               {ZipEntry::Dir, "Salvix.app/Contents/Resources/", {}},
                               {ZipEntry::File, "Salvix.app/Contents/Resources/video.mp4", "video"}};
    if (!archiveVersion.isNull())
        archive = setupBundle(archiveVersion);
    QVERIFY(QDir().mkpath(upgrade));
    const QString archivePath = getToUpgradeFilePath();
    QVERIFY(writeZip(archivePath, archive));
    QVERIFY(Sandbox::write(upgrade + "/Salvix Setup.dat",
                           goodDigest ? Sandbox::sha1Hex(archivePath) : QByteArray(40, '0')));

    QString toUpgradePath = archivePath;
    QByteArray program = "Salvix Setup";
    char* argv[] = {program.data(), nullptr};
    LogCapture::flush();
    decideUpgradeFlags(toUpgradePath, QFileInfo(sandbox.path() + "/Salvix Setup.app/Contents/MacOS/Salvix Setup"),
                       getMainToolPath(), 1, argv);
    const QStringList log = LogCapture::flush();

    QCOMPARE(gConfig.possible_patch_tool_to_upgrade, accepted);
    QCOMPARE(upgradeFolderEntries(), entries);
    QVERIFY(!QFileInfo::exists(earlierVideo));
    if (accepted)
        QCOMPARE(Sandbox::read(upgrade + "/Salvix Setup.app/Contents/MacOS/Salvix Setup"), QByteArray("new program"));
    QCOMPARE(LogCapture::matching(log, "[main] invalid upgrade file, its unpacked content is removed:").size(),
             accepted ? 0 : 1);
    QVERIFY(!QFileInfo::exists(sandbox.userFolder() + "/UpgradeStaging"));
}

// A named pipe where the archive or its check file should be is never opened blocking:
// the decision ends at once and rejects the archive.
void TestUpgradeFlags::pipeInPlaceOfAFileIsRejected_data()
{
    QTest::addColumn<QString>("pipeAt"); // "archive", "link to archive" or "check file"

    QTest::newRow("archive is a named pipe") << "archive";
    QTest::newRow("archive is a link to a named pipe") << "link to archive";
    QTest::newRow("check file is a named pipe") << "check file";
}

void TestUpgradeFlags::pipeInPlaceOfAFileIsRejected()
{
    QFETCH(QString, pipeAt);

    Sandbox sandbox;
    gConfig = GlobalConfig();
    QCoreApplication::setApplicationVersion("3.2.0");
    QVERIFY(Sandbox::write(sandbox.applications() + "/Salvix.app/Contents/Info.plist", Sandbox::infoPlist("3.1.0")));
    QVERIFY(QDir().mkpath(getUpgradeFolder()));
    const QString archivePath = getToUpgradeFilePath();
    const QString checkPath = getUpgradeFolder() + "/Salvix Setup.dat";
    const QString pipe = pipeAt == "link to archive" ? sandbox.path() + "/pipe"
                         : pipeAt == "check file"    ? checkPath
                                                     : archivePath;
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    if (pipeAt == "link to archive")
        QVERIFY(QFile::link(pipe, archivePath));
    if (pipeAt == "check file")
        QVERIFY(writeZip(archivePath, setupBundle("3.3.0")));
    else
        QVERIFY(Sandbox::write(checkPath, QByteArray(40, '0')));

    QString toUpgradePath = archivePath;
    QVERIFY2(decideWithin(20000, toUpgradePath, {pipe}), "the decision waited at a named pipe");
    QVERIFY(toUpgradePath.isEmpty());
    QCOMPARE(gConfig.possible_patch_tool_to_upgrade, false);
    QVERIFY(!QFileInfo(archivePath).exists() && !QFileInfo(archivePath).isSymLink());
}

QTEST_GUILESS_MAIN(TestUpgradeFlags)
#include "tst_UpgradeFlags.moc"
