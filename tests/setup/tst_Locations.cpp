#include "Locations.h"
#include "Sandbox.h"

#include <QTest>

class TestLocations : public QObject
{
    Q_OBJECT

private slots:
    void pathsUnderRootAndHome();
    void realPathsWithoutRoot();
    void perUserFolderCreatedOnlyItself();
    void mp4SourceFolder_data();
    void mp4SourceFolder();
};

void TestLocations::pathsUnderRootAndHome()
{
    Sandbox sandbox;
    const QString apps = sandbox.applications();
    const QString user = sandbox.userFolder();

    QCOMPARE(getSystemFolder(), apps);
    QCOMPARE(getAppSupportFolder(), user);
    QCOMPARE(getMainFolder(), apps + "/Salvix.app");
    QCOMPARE(getImageFolder(), user + "/image");
    QCOMPARE(getUpgradeFolder(), user + "/Upgrade");
    QCOMPARE(getMainInfoPList(), apps + "/Salvix.app/Contents/Info.plist");
    QCOMPARE(getMainToolPath(), apps + "/Salvix.app/Contents/MacOS/Salvix");
    QCOMPARE(getToUpgradeFilePath(), user + "/Upgrade/Salvix Setup.zip");
    QCOMPARE(getConfigFilePath(), user + "/release_version.ini");
    QCOMPARE(getMacInstallAppPath(), apps + "/quilm.app");
    QCOMPARE(getMacInstallExePath(), apps + "/quilm.app/Contents/MacOS/Salvix");
    QCOMPARE(getFallbackInstallAppPath(), apps + "/Salvix.app");
    QCOMPARE(getFallbackInstallExePath(), apps + "/Salvix.app/Contents/MacOS/Salvix");
    QCOMPARE(getLauncherAppPath(), apps + "/Salvix Setup.app");
    QCOMPARE(getLauncherExePath(), apps + "/Salvix Setup.app/Contents/MacOS/Salvix Setup");
}

void TestLocations::realPathsWithoutRoot()
{
    Sandbox sandbox;
    qunsetenv("SALVIX_ROOT");
    QCOMPARE(getSystemFolder(), QString("/Applications"));
    QCOMPARE(getMainToolPath(), QString("/Applications/Salvix.app/Contents/MacOS/Salvix"));
    qputenv("SALVIX_ROOT", "");
    QCOMPARE(getMainInfoPList(), QString("/Applications/Salvix.app/Contents/Info.plist"));
    // A trailing slash on the root adds no second one.
    qputenv("SALVIX_ROOT", (sandbox.root() + "/").toUtf8());
    QCOMPARE(getSystemFolder(), sandbox.applications());
}

void TestLocations::perUserFolderCreatedOnlyItself()
{
    Sandbox sandbox;
    QVERIFY(!QDir(sandbox.userFolder()).exists());
    getToUpgradeFilePath();
    QVERIFY(QDir(sandbox.userFolder()).exists());
    getImageFolder();
    getUpgradeFolder();
    getConfigFilePath();
    getMp4SourceFolder();
    QVERIFY(!QDir(sandbox.userFolder() + "/Upgrade").exists());
    QVERIFY(!QDir(sandbox.userFolder() + "/image").exists());
    QVERIFY(!QFile::exists(sandbox.userFolder() + "/release_version.ini"));
}

void TestLocations::mp4SourceFolder_data()
{
    QTest::addColumn<bool>("upgradeBundle");
    QTest::addColumn<bool>("installedBundle");
    QTest::addColumn<QString>("linked"); // a part of the upgrade bundle's path that is a link to a folder elsewhere
    QTest::addColumn<QString>("expected");

    QTest::newRow("both bundles: the upgrade one") << true << true << ""
                                                   << "upgrade";
    QTest::newRow("only the upgrade bundle") << true << false << ""
                                             << "upgrade";
    QTest::newRow("only the installed bundle") << false << true << ""
                                               << "installed";
    QTest::newRow("neither: the image folder, even missing") << false << false << ""
                                                             << "image";
    // A link planted in the upgrade folder would lead the decoding to videos elsewhere.
    QTest::newRow("upgrade bundle is a link") << true << true << "Salvix.app"
                                              << "installed";
    QTest::newRow("upgrade image folder is a link") << true << false << "Salvix.app/Contents/Resources/image"
                                                    << "image";
}

void TestLocations::mp4SourceFolder()
{
    QFETCH(bool, upgradeBundle);
    QFETCH(bool, installedBundle);
    QFETCH(QString, linked);
    QFETCH(QString, expected);

    Sandbox sandbox;
    const QString upgrade = sandbox.userFolder() + "/Upgrade/Salvix.app/Contents/Resources/image";
    const QString installed = sandbox.applications() + "/Salvix.app/Contents/Resources/image";
    if (upgradeBundle)
        QVERIFY(QDir().mkpath(upgrade));
    if (!linked.isEmpty()) {
        const QString part = sandbox.userFolder() + "/Upgrade/" + linked;
        QVERIFY(QDir(part).removeRecursively());
        QVERIFY(QDir().mkpath(sandbox.path() + "/elsewhere/Contents/Resources/image"));
        QVERIFY(QFile::link(sandbox.path() + "/elsewhere", part));
        QVERIFY(QDir(upgrade).exists());
    }
    if (installedBundle)
        QVERIFY(QDir().mkpath(installed));
    // A file where a candidate folder would be does not count.
    if (!installedBundle)
        QVERIFY(Sandbox::write(installed, "not a folder"));

    const QString folder = getMp4SourceFolder();
    if (expected == "upgrade")
        QCOMPARE(folder, upgrade);
    else if (expected == "installed")
        QCOMPARE(folder, installed);
    else
        QCOMPARE(folder, sandbox.userFolder() + "/image");
    QCOMPARE(QDir(sandbox.userFolder() + "/image").exists(), false);
}

QTEST_GUILESS_MAIN(TestLocations)
#include "tst_Locations.moc"
