#include "GlobalConfig.h"
#include "Locations.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "UpgradeFlags.h"
#include "ZipFixture.h"

#include <QCoreApplication>
#include <QTest>

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

} // namespace

class TestUpgradeFlags : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decision_data();
    void decision();
    void rowTextsOfAnAcceptedDownload();
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
        QVERIFY(QFile::exists(getUpgradeFolder() + "/Salvix Setup.app/Contents/MacOS/Salvix Setup"));

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

QTEST_GUILESS_MAIN(TestUpgradeFlags)
#include "tst_UpgradeFlags.moc"
