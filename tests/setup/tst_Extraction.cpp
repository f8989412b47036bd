#include "ArchiveExtraction.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "TreeListing.h"
#include "UpgradeToolThread.h"
#include "ZipFixture.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QResource>
#include <QSignalSpy>
#include <QTest>
#include <QtGui/private/qzipreader_p.h>

#include <unistd.h>

namespace {

const QString bundleZip = QStringLiteral(":/release_patch/Salvix.zip");
const QFileDevice::Permissions mode755 = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                         | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                         | QFileDevice::ExeOther;
const QFileDevice::Permissions ownerGroupOther = QFileDevice::Permissions(0x7077);

QStringList tempCopies(const Sandbox& sandbox)
{
    return QDir(sandbox.tmp()).entryList({"quilm_zip_*"}, QDir::Files | QDir::Hidden);
}

constexpr uid_t nobody = 65534;

QStringList dropToNobody()
{
    return {"setpriv", "--reuid", QString::number(nobody), "--regid", QString::number(nobody), "--clear-groups"};
}

// Why no unprivileged user can remove the sandbox's tree here; empty when one can. Root
// runs the removal as nobody (65534), any other user as itself.
QString unprivilegedRemovalUnavailable(const QString& sandbox)
{
    if (geteuid() != 0)
        return QString();
    QStringList probe = dropToNobody() << "true";
    if (QProcess::execute(probe.takeFirst(), probe) != 0)
        return QStringLiteral("setpriv cannot start a process as user 65534 here");
    // The sandbox itself is handed to that user; the folders above it must let it pass.
    for (QDir up(QFileInfo(sandbox).absolutePath()); !up.isRoot(); up.cdUp()) {
        if (!QFileInfo(up.path()).permissions().testFlag(QFileDevice::ExeOther))
            return QStringLiteral("user 65534 cannot reach the sandbox through ") + up.path();
    }
    return QString();
}

// Runs forceRemoveDir on target in a process of an unprivileged user; as root, the
// sandbox is first handed to nobody (without following links).
void removeAsUnprivilegedUser(const QString& sandbox, const QString& target)
{
    const bool root = geteuid() == 0;
    QStringList command{QStringLiteral(FORCE_REMOVE_HELPER), target};
    if (root) {
        QStringList entries{sandbox};
        QDirIterator it(sandbox, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << it.next();
        for (const QString& entry : std::as_const(entries))
            QCOMPARE(::lchown(QFile::encodeName(entry).constData(), nobody, nobody), 0);
        command = dropToNobody() + command;
    }
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(command.takeFirst(), command);
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitCode(), 0);
    // The removal really ran without root's privileges.
    QCOMPARE(helper.readAllStandardOutput().trimmed(), QByteArray::number(root ? nobody : geteuid()));
}

} // namespace

class TestExtraction : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void embeddedArchiveInstallsWholeBundle();
    void missingDittoGivesNegativeStatus();
    void failingDittoOnPlainPath();
    void emptyAndMissingArchive();
    void plainPathWithMetadataFolder();
    void selectiveModeTakesFoldersAndVideos();
    void selectiveModeWithoutMatches();
    void extractZipToPathCases();
    void hostileArchive_data();
    void hostileArchive();
    void dotNames_data();
    void dotNames();
    void selectiveModeRelativeDestination();
    void dittoInCallersLocale_data();
    void dittoInCallersLocale();
    void forceRemoveDir_data();
    void forceRemoveDir();
};

void TestExtraction::initTestCase()
{
    LogCapture::install();
    QVERIFY(QFileInfo::exists(bundleZip));
    QVERIFY(QFileInfo::exists(":/release_patch/Salvix"));
    // Stored as it is, so that the copy handed to "ditto" is the archive byte for byte.
    QCOMPARE(QResource(bundleZip).compressionAlgorithm(), QResource::NoCompression);
    QCOMPARE(QResource(":/release_patch/Salvix").compressionAlgorithm(), QResource::NoCompression);
    LogCapture::flush();
}

void TestExtraction::embeddedArchiveInstallsWholeBundle()
{
    Sandbox sandbox;
    QString zip = bundleZip;
    QString dest = sandbox.applications();
    UpgradeToolThread worker;
    QSignalSpy progress(&worker, &UpgradeToolThread::sendProgress);
    worker.unZipResourceFiles(zip, dest, false);
    const QStringList log = LogCapture::flush();

    QCOMPARE(zip, bundleZip);
    QCOMPARE(progress.count(), 0);
    QVERIFY(tempCopies(sandbox).isEmpty());
    QCOMPARE(
        LogCapture::matching(log, "[UpgradeToolThread] start unZipResourceFiles from :/release_patch/Salvix.zip to "
                                      + dest + ", unzipVideoFileOnly=0")
            .size(),
        1);
    const QStringList copied = LogCapture::matching(log, "[UpgradeToolThread] copied Qt resource to temp file:");
    QCOMPARE(copied.size(), 1);
    const QRegularExpression tempName("\"" + QRegularExpression::escape(sandbox.tmp())
                                      + "/quilm_zip_[A-Za-z0-9]{6}\\.zip\"");
    QVERIFY2(tempName.match(copied.first()).hasMatch(), qPrintable(copied.first()));
    QCOMPARE(LogCapture::matching(log, "[UpgradeToolThread] ditto unzip succeeded:").size(), 1);

    // Every entry of the archive is there, links as links with their targets.
    QFile resource(bundleZip);
    QVERIFY(resource.open(QIODevice::ReadOnly));
    QZipReader reader(&resource);
    int links = 0;
    int videos = 0;
    for (const QZipReader::FileInfo& entry : reader.fileInfoList()) {
        const QString path = dest + "/" + entry.filePath;
        const QFileInfo info(path);
        if (entry.isSymLink) {
            ++links;
            QVERIFY2(info.isSymLink(), qPrintable(path));
            const QString target = QString::fromUtf8(reader.fileData(entry.filePath));
            QCOMPARE(QFile::symLinkTarget(path), QDir::cleanPath(info.absolutePath() + "/" + target));
        } else if (entry.isDir) {
            QVERIFY2(info.isDir(), qPrintable(path));
        } else {
            QVERIFY2(info.isFile() && !info.isSymLink(), qPrintable(path));
            QCOMPARE(info.size(), entry.size);
            QCOMPARE(QFile::permissions(path) & ownerGroupOther, entry.permissions & ownerGroupOther);
            videos += entry.filePath.endsWith(".mp4");
        }
    }
    QVERIFY(links >= 2);
    QCOMPARE(videos, 24);

    const QString app = dest + "/Salvix.app/Contents";
    QCOMPARE(QFile::permissions(app + "/MacOS/Salvix") & ownerGroupOther, mode755);
    QCOMPARE(QFile::permissions(app + "/MacOS/ffmpeg") & ownerGroupOther, mode755);
    QCOMPARE(Sandbox::read(app + "/MacOS/Salvix"), Sandbox::read(":/release_patch/Salvix"));
    QCOMPARE(QDir(app + "/Resources/image/background").entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({"golden_2K", "golden_4K", "light_2K", "light_4K"}));
    QVERIFY(QFile::exists(app + "/Resources/image/background/light_4K/ScanThumbnail/ScanThumbnail.mp4"));

    // The installed program runs (its library is found through the version links) and
    // records how it was started.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SALVIX_STAY_SECONDS", "0");
    QProcess salvix;
    salvix.setProcessEnvironment(env);
    salvix.start(app + "/MacOS/Salvix", {app + "/MacOS", "launch_salvix"});
    QVERIFY(salvix.waitForFinished(10000));
    QCOMPARE(salvix.exitCode(), 0);
    QCOMPARE(Sandbox::read(sandbox.userFolder() + "/salvix_launches.txt"), (app + "/MacOS\tlaunch_salvix\n").toUtf8());
}

void TestExtraction::missingDittoGivesNegativeStatus()
{
    Sandbox sandbox;
    QString zip = bundleZip;
    QString dest = sandbox.path() + "/not/yet/there";
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", (sandbox.path() + "/no-tools").toUtf8());
    UpgradeToolThread worker;
    worker.unZipResourceFiles(zip, dest, false);
    qputenv("PATH", path);
    const QStringList log = LogCapture::flush();

    QVERIFY(QDir(dest).exists());
    QVERIFY(QDir(dest).isEmpty());
    QVERIFY(tempCopies(sandbox).isEmpty());
    const QStringList failed = LogCapture::matching(log, "[UpgradeToolThread] ditto unzip failed, ret=");
    QCOMPARE(failed.size(), 1);
    QVERIFY2(QRegularExpression("ret= -\\d+ , src= \"[^\"]*quilm_zip_").match(failed.first()).hasMatch(),
             qPrintable(failed.first()));
    QVERIFY(failed.first().startsWith("ERROR"));
}

void TestExtraction::failingDittoOnPlainPath()
{
    Sandbox sandbox;
    QString zip = sandbox.path() + "/broken.zip";
    QVERIFY(Sandbox::write(zip, "this is not a zip archive"));
    QString dest = sandbox.path() + "/dest";
    UpgradeToolThread worker;
    worker.unZipResourceFiles(zip, dest, false);
    const QStringList log = LogCapture::flush();

    QVERIFY(LogCapture::matching(log, "copied Qt resource").isEmpty());
    const QStringList failed = LogCapture::matching(log, "[UpgradeToolThread] ditto unzip failed, ret=");
    QCOMPARE(failed.size(), 1);
    QVERIFY2(QRegularExpression("ret= [1-9]\\d* , src= \"" + QRegularExpression::escape(zip) + "\"")
                 .match(failed.first())
                 .hasMatch(),
             qPrintable(failed.first()));
}

void TestExtraction::emptyAndMissingArchive()
{
    Sandbox sandbox;
    UpgradeToolThread worker;
    QString empty;
    QString dest = sandbox.path() + "/dest";
    worker.unZipResourceFiles(empty, dest, false);
    QVERIFY(LogCapture::flush().isEmpty());
    QVERIFY(!QFileInfo::exists(dest));

    QString missing = sandbox.path() + "/missing.zip";
    worker.unZipResourceFiles(missing, dest, true);
    const QStringList log = LogCapture::flush();
    QCOMPARE(log.size(), 2);
    QVERIFY(log.at(0).contains("[UpgradeToolThread] start unZipResourceFiles from " + missing + " to " + dest
                               + ", unzipVideoFileOnly=1"));
    QVERIFY(log.at(1).contains("[UpgradeToolThread] unZipResourceFiles file not exists: \"" + missing + "\""));
    QVERIFY(!QFileInfo::exists(dest));
}

// A plain path is handed to "ditto" as it is; the stand-in leaves "__MACOSX" out.
void TestExtraction::plainPathWithMetadataFolder()
{
    Sandbox sandbox;
    QString zip = sandbox.path() + "/plain.zip";
    QVERIFY(writeZip(zip, {{ZipEntry::Dir, "App.app/", {}},
                           {ZipEntry::File, "App.app/file", "data"},
                           {ZipEntry::Dir, "__MACOSX/", {}},
                           {ZipEntry::Dir, "__MACOSX/App.app/", {}},
                           {ZipEntry::File, "__MACOSX/App.app/._file", "fork"}}));
    QString dest = sandbox.path() + "/dest";
    UpgradeToolThread worker;
    worker.unZipResourceFiles(zip, dest, false);
    const QStringList log = LogCapture::flush();

    QCOMPARE(LogCapture::matching(log, "[UpgradeToolThread] ditto unzip succeeded: \"" + zip + "\"").size(), 1);
    QVERIFY(LogCapture::matching(log, "copied Qt resource").isEmpty());
    QCOMPARE(treeOf(dest), QStringList({"App.app", "App.app/file"}));
}

void TestExtraction::selectiveModeTakesFoldersAndVideos()
{
    Sandbox sandbox;
    QString zip = sandbox.path() + "/videos.zip";
    QVERIFY(writeZip(zip, {
                              {ZipEntry::Dir, "v/", {}},
                              {ZipEntry::Dir, "v/a/", {}},
                              {ZipEntry::File, "v/a/a.mp4", "video a"},
                              {ZipEntry::File, "v/a/B.MP4.part", "video b"},
                              {ZipEntry::File, "v/a/readme.txt", "text"},
                              {ZipEntry::Link, "v/a/link.mp4", "a.mp4"},
                              {ZipEntry::Dir, "__MACOSX/", {}},
                              {ZipEntry::File, "__MACOSX/._a.mp4", "resource fork"},
                              {ZipEntry::File, "missing/parent/c.mp4", "no folder entry before it"},
                          }));
    QString dest = sandbox.path() + "/dest";
    QVERIFY(QDir().mkpath(dest));

    UpgradeToolThread worker;
    QSignalSpy progress(&worker, &UpgradeToolThread::sendProgress);
    worker.unZipResourceFiles(zip, dest, true);
    const QStringList log = LogCapture::flush();

    // Selected: 3 folders and 4 videos. Skipped: the 2 "__MACOSX" entries; not creatable: 1.
    QCOMPARE(LogCapture::matching(
                 log, "[UpgradeToolThread] unzipVideoFileOnly=true, falling back to QZipReader for selective extract")
                 .size(),
             1);
    QCOMPARE(LogCapture::matching(log, "[UpgradeToolThread] start unZipResourceFiles, and fileCount = 7").size(), 1);
    QCOMPARE(LogCapture::matching(log, "[UpgradeToolThread] unZipResourceFiles create dest file " + dest
                                           + "/missing/parent/c.mp4 failed with 2")
                 .size(),
             1);
    QCOMPARE(
        LogCapture::matching(log, "[UpgradeToolThread] unZipResourceFiles from " + zip + " to " + dest + " finished")
            .size(),
        1);

    QCOMPARE(treeOf(dest), QStringList({"v", "v/a", "v/a/B.MP4.part", "v/a/a.mp4"}));
    QCOMPARE(Sandbox::read(dest + "/v/a/a.mp4"), QByteArray("video a"));
    QZipReader reader(zip);
    QCOMPARE(QFile::permissions(dest + "/v/a/a.mp4") & ownerGroupOther,
             reader.fileInfoList().at(2).permissions & ownerGroupOther);

    // 300 / 7 per entry written or created, truncated at each send.
    QList<int> sent;
    for (const QList<QVariant>& call : progress) {
        QCOMPARE(call.at(0).toInt(), 1000);
        sent.append(call.at(1).toInt());
    }
    QCOMPARE(sent, QList<int>({42, 85, 128, 171}));
}

void TestExtraction::selectiveModeWithoutMatches()
{
    Sandbox sandbox;
    QString zip = sandbox.path() + "/plain.zip";
    QVERIFY(writeZip(zip, {{ZipEntry::File, "readme.txt", "text"}, {ZipEntry::Link, "movie.mp4", "readme.txt"}}));
    QString dest = sandbox.path() + "/dest";
    UpgradeToolThread worker;
    QSignalSpy progress(&worker, &UpgradeToolThread::sendProgress);
    worker.unZipResourceFiles(zip, dest, true);
    const QStringList log = LogCapture::flush();

    QCOMPARE(LogCapture::matching(log, "fileCount = 0").size(), 1);
    QCOMPARE(LogCapture::matching(log, "finished").size(), 1);
    QCOMPARE(progress.count(), 0);
    QVERIFY(!QFileInfo::exists(dest));
}

void TestExtraction::extractZipToPathCases()
{
    Sandbox sandbox;
    const QString dest = sandbox.path() + "/Upgrade";
    QVERIFY(!extractZipToPath(sandbox.path() + "/missing.zip", dest));
    QVERIFY(!QFileInfo::exists(dest));

    const QString zip = sandbox.path() + "/Salvix Setup.zip";
    QVERIFY(writeZip(zip, {
                              {ZipEntry::Dir, "Salvix Setup.app/", {}},
                              {ZipEntry::Dir, "Salvix Setup.app/Contents/", {}},
                              {ZipEntry::File, "Salvix Setup.app/Contents/Info.plist", Sandbox::infoPlist("3.3.0")},
                              {ZipEntry::Link, "Salvix Setup.app/Current", "Contents"},
                          }));
    QVERIFY(extractZipToPath(zip, dest + "/deeper"));
    QCOMPARE(Sandbox::read(dest + "/deeper/Salvix Setup.app/Contents/Info.plist"), Sandbox::infoPlist("3.3.0"));
    QVERIFY(QFileInfo(dest + "/deeper/Salvix Setup.app/Current").isSymLink());

    // Folders that the archive does not list are made for the files in them.
    const QString sparse = sandbox.path() + "/sparse.zip";
    QVERIFY(writeZip(sparse, {{ZipEntry::Dir, "App.app/", {}}, {ZipEntry::File, "App.app/Contents/MacOS/App", "app"}}));
    QVERIFY(extractZipToPath(sparse, dest + "/sparse"));
    QCOMPARE(Sandbox::read(dest + "/sparse/App.app/Contents/MacOS/App"), QByteArray("app"));

    // A destination that cannot be made.
    QVERIFY(Sandbox::write(sandbox.path() + "/file", "x"));
    QVERIFY(!extractZipToPath(zip, sandbox.path() + "/file/sub"));
    LogCapture::flush();

    // Entries that cannot be read cannot be judged: a damaged download is not unpacked.
    const QString broken = sandbox.path() + "/broken.zip";
    QByteArray damaged = zipBytes({{ZipEntry::File, "a.txt", "text"}});
    damaged.replace(QByteArray("PK\x01\x02"), QByteArray("PK\x01\x03"));
    QVERIFY(Sandbox::write(broken, damaged));
    QVERIFY(!extractZipToPath(broken, dest + "/broken"));
    QVERIFY(!QFileInfo::exists(dest + "/broken"));
    QCOMPARE(
        LogCapture::matching(LogCapture::flush(),
                             "[ArchiveExtraction] refused archive whose entries cannot be read: \"" + broken + "\"")
            .size(),
        1);
}

void TestExtraction::hostileArchive_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<bool>("existingLink"); // dest/old -> the outside folder, made beforehand
    QTest::addColumn<QString>("refusedEntry"); // named when the archive is refused; empty: accepted
    QTest::addColumn<bool>("dittoRefuses"); // "ditto" refuses the whole archive too
    QTest::addColumn<QStringList>("selective"); // the destination after the selective mode

    const QByteArray fine = "0123456789abcdef";
    const ZipEntry okDir{ZipEntry::Dir, "ok/", {}};
    const ZipEntry okFile{ZipEntry::File, "ok/fine.mp4", fine};
    const QStringList okTree{"ok", "ok/fine.mp4"};

    // "@" stands for the outside folder's absolute path. Names are stored exactly as
    // written here; the zip reader would strip a leading "/" or "../" from them.
    QTest::newRow("dot-dot inside a path")
        << QList<ZipEntry>{{ZipEntry::Dir, "a/", {}},
                           {ZipEntry::File, "a/../../../outside/keep.txt", "changed"},
                           {ZipEntry::File, "a/../../../outside/new.mp4", "new"}}
        << false << "a/../../../outside/keep.txt" << true << QStringList{"a"};
    QTest::newRow("dot-dot after a folder") << QList<ZipEntry>{okDir, okFile, {ZipEntry::File, "a/../../x.mp4", fine}}
                                            << false << "a/../../x.mp4" << true << okTree;
    QTest::newRow("leading dot-dot") << QList<ZipEntry>{okDir,
                                                        okFile,
                                                        {ZipEntry::File, "../x.mp4", fine},
                                                        {ZipEntry::Dir, "../xdir/", {}},
                                                        {ZipEntry::File, "../../outside/keep.txt", "changed"}}
                                     << false << "../x.mp4" << true << okTree;
    QTest::newRow("absolute path") << QList<ZipEntry>{okFile,
                                                      {ZipEntry::File, "@/keep.txt", "changed"},
                                                      {ZipEntry::File, "@/new.mp4", "new"}}
                                   << false << "@/keep.txt" << true << QStringList{};
    QTest::newRow("absolute folder") << QList<ZipEntry>{okDir,
                                                        okFile,
                                                        {ZipEntry::Dir, "@/abs/", {}},
                                                        {ZipEntry::File, "@/abs/abs.mp4", fine}}
                                     << false << "@/abs/" << true << okTree;
    QTest::newRow("backslash separators") << QList<ZipEntry>{okDir,
                                                             okFile,
                                                             {ZipEntry::File, "..\\x.mp4", fine},
                                                             {ZipEntry::File, "ok\\..\\..\\y.mp4", fine}}
                                          << false << "..\\x.mp4" << true << okTree;
    QTest::newRow("through a link the archive makes") << QList<ZipEntry>{{ZipEntry::Link, "lnk", "@"},
                                                                         {ZipEntry::File, "lnk/keep.txt", "changed"},
                                                                         {ZipEntry::File, "lnk/new.mp4", "new"}}
                                                      << false << "lnk/keep.txt" << false << QStringList{};
    QTest::newRow("through a relative link") << QList<ZipEntry>{{ZipEntry::Dir, "d/", {}},
                                                                {ZipEntry::Link, "d/l", "../../outside"},
                                                                {ZipEntry::Dir, "d/l/sub/", {}},
                                                                {ZipEntry::File, "d/l/new.mp4", "new"}}
                                             << false << "d/l/sub/" << false << QStringList{"d"};
    // The reader lists the link as "" and the files as "keep.txt" and "new.mp4".
    QTest::newRow("through a link named with dots only") << QList<ZipEntry>{{ZipEntry::Link, "...", "@"},
                                                                            {ZipEntry::File, ".../keep.txt", "changed"},
                                                                            {ZipEntry::File, ".../new.mp4", "new"}}
                                                         << false << ".../keep.txt" << false << QStringList{};
    QTest::newRow("file of the same name as a link")
        << QList<ZipEntry>{{ZipEntry::Link, "keep.mp4", "@/keep.txt"}, {ZipEntry::File, "keep.mp4", "changed"}} << false
        << "keep.mp4" << false << QStringList{};
    QTest::newRow("through a link already in the destination")
        << QList<ZipEntry>{{ZipEntry::Dir, "old/", {}},
                           {ZipEntry::File, "old/keep.txt", "changed"},
                           {ZipEntry::File, "old/new.mp4", "new"}}
        << true << "old/" << false << QStringList{"old"};
    QTest::newRow("fine names only")
        << QList<ZipEntry>{okDir, okFile, {ZipEntry::Dir, "ok/sub/", {}}, {ZipEntry::File, "ok/sub/..b.mp4", fine}}
        << false << QString() << false << QStringList{"ok", "ok/fine.mp4", "ok/sub", "ok/sub/..b.mp4"};
}

// Nothing outside the destination is created, changed or removed, whichever way the
// archive is unpacked. A refused archive leaves the destination as it was; the selective
// mode skips the entries outside and writes the others.
void TestExtraction::hostileArchive()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(bool, existingLink);
    QFETCH(QString, refusedEntry);
    QFETCH(bool, dittoRefuses);
    QFETCH(QStringList, selective);

    for (const QString& mode : QStringList{"extractZipToPath", "selective", "ditto"}) {
        Sandbox sandbox;
        const QString outside = sandbox.path() + "/outside";
        QVERIFY(Sandbox::write(outside + "/keep.txt", "original"));
        QList<ZipEntry> resolved = entries;
        for (ZipEntry& entry : resolved) {
            entry.name.replace("@", outside);
            entry.data.replace("@", outside.toUtf8());
        }
        const QString refused = QString(refusedEntry).replace("@", outside);
        QString zip = sandbox.tmp() + "/hostile.zip";
        QVERIFY(writeZip(zip, resolved));
        QString dest = sandbox.path() + "/dest/inner";
        // extractZipToPath creates a missing destination only for an archive it accepts.
        if (existingLink || mode != "extractZipToPath")
            QVERIFY(QDir().mkpath(dest));
        if (existingLink)
            QVERIFY(QFile::link(outside, dest + "/old"));
        const QStringList before = treeOf(sandbox.path());
        const QStringList destBefore = treeOf(dest);

        if (mode == "extractZipToPath") {
            QCOMPARE(extractZipToPath(zip, dest), refused.isEmpty());
        } else {
            UpgradeToolThread worker;
            worker.unZipResourceFiles(zip, dest, mode == "selective");
        }
        const QStringList log = LogCapture::flush();
        const QString context = mode + ": " + log.join("\n");

        QCOMPARE(Sandbox::read(outside + "/keep.txt"), QByteArray("original"));
        QCOMPARE(treeOf(outside), QStringList({"keep.txt"}));
        // Whatever was written lies inside the destination (or is the destination).
        for (const QString& path : treeOf(sandbox.path())) {
            if (!before.contains(path))
                QVERIFY2(QString("dest/inner/").startsWith(path + "/") || path.startsWith("dest/inner/"),
                         qPrintable(mode + ": " + path));
        }
        if (QFileInfo::exists(dest + "/ok/fine.mp4"))
            QCOMPARE(Sandbox::read(dest + "/ok/fine.mp4"), QByteArray("0123456789abcdef"));

        if (mode == "extractZipToPath" && !refused.isEmpty()) {
            QCOMPARE(treeOf(sandbox.path()), before);
            const QStringList refusal = LogCapture::matching(log, "[ArchiveExtraction] refused archive");
            QCOMPARE(refusal.size(), 1);
            QString quoted;
            QDebug(&quoted) << refused;
            QVERIFY2(refusal.first().contains(quoted.trimmed()), qPrintable(refusal.first()));
            QVERIFY(refusal.first().startsWith("ERROR"));
        } else if (mode == "selective") {
            QCOMPARE(treeOf(dest), selective);
        } else if (mode == "ditto" && dittoRefuses) {
            QVERIFY2(LogCapture::matching(log, "ditto unzip failed").size() == 1, qPrintable(context));
            QCOMPARE(treeOf(dest), destBefore);
        } else if (refused.isEmpty()) {
            QCOMPARE(treeOf(dest), selective);
        }
    }
}

void TestExtraction::dotNames_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<QStringList>("written"); // each entry's path when the whole archive is unpacked
    QTest::addColumn<QStringList>("selective"); // the destination after the selective mode

    QTest::newRow("leading dot and slash")
        << QList<ZipEntry>{{ZipEntry::File, "./a.txt", "text a"}, {ZipEntry::File, "./a.mp4", "video a"}}
        << QStringList{"a.txt", "a.mp4"} << QStringList{"a.mp4"};
    QTest::newRow("hidden file") << QList<ZipEntry>{{ZipEntry::File, ".hidden", "hidden text"},
                                                    {ZipEntry::File, ".hidden.mp4", "hidden video"}}
                                 << QStringList{".hidden", ".hidden.mp4"} << QStringList{".hidden.mp4"};
    QTest::newRow("two leading dots") << QList<ZipEntry>{{ZipEntry::File, "..b.mp4", "video b"}}
                                      << QStringList{"..b.mp4"} << QStringList{"..b.mp4"};
    QTest::newRow("dot part inside") << QList<ZipEntry>{{ZipEntry::Dir, "dir/", {}},
                                                        {ZipEntry::File, "dir/./c.mp4", "video c"}}
                                     << QStringList{"dir", "dir/c.mp4"} << QStringList{"dir", "dir/c.mp4"};
    QTest::newRow("file in a dot folder")
        << QList<ZipEntry>{{ZipEntry::Dir, ".cfg/", {}}, {ZipEntry::File, ".cfg/x.mp4", "video x"}}
        << QStringList{".cfg", ".cfg/x.mp4"} << QStringList{".cfg", ".cfg/x.mp4"};
    // An empty path is the destination itself.
    QTest::newRow("tree under dot and slash")
        << QList<ZipEntry>{{ZipEntry::Dir, "./", {}},
                           {ZipEntry::Dir, "./v/", {}},
                           {ZipEntry::File, "./v/d.mp4", "video d"},
                           {ZipEntry::Executable, "./v/run", "#!/bin/sh\n"}}
        << QStringList{"", "v", "v/d.mp4", "v/run"} << QStringList{"v", "v/d.mp4"};
    QTest::newRow("hidden link") << QList<ZipEntry>{{ZipEntry::File, ".hidden", "hidden text"},
                                                    {ZipEntry::Link, ".link", ".hidden"}}
                                 << QStringList{".hidden", ".link"} << QStringList{};
}

// Names that begin with "." or hold "." parts are written under their own names and
// with their own content, whichever way the archive is unpacked.
void TestExtraction::dotNames()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(QStringList, written);
    QFETCH(QStringList, selective);

    for (const QString& mode : QStringList{"extractZipToPath", "selective", "ditto"}) {
        Sandbox sandbox;
        QString zip = sandbox.tmp() + "/dots.zip";
        QVERIFY(writeZip(zip, entries));
        QString dest = sandbox.path() + "/dest";
        if (mode == "extractZipToPath") {
            QVERIFY2(extractZipToPath(zip, dest), qPrintable(mode));
        } else {
            QVERIFY(QDir().mkpath(dest));
            UpgradeToolThread worker;
            worker.unZipResourceFiles(zip, dest, mode == "selective");
        }
        const QString context = mode + ": " + LogCapture::flush().join("\n");

        QStringList expected = mode == "selective" ? selective : written;
        expected.removeAll(QString());
        expected.sort();
        const QStringList tree = treeOf(dest);
        QVERIFY2(tree == expected, qPrintable(context + "\ngot: " + tree.join(", ")));

        QZipReader reader(zip);
        const QList<QZipReader::FileInfo> infos = reader.fileInfoList();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (!expected.contains(written.at(i)))
                continue;
            const ZipEntry& entry = entries.at(i);
            const QString path = dest + "/" + written.at(i);
            const QFileInfo info(path);
            const QString what = mode + ": " + entry.name;
            if (entry.kind == ZipEntry::Dir) {
                QVERIFY2(info.isDir() && !info.isSymLink(), qPrintable(what));
            } else if (entry.kind == ZipEntry::Link) {
                QVERIFY2(info.isSymLink(), qPrintable(what));
                QVERIFY2(QFile::symLinkTarget(path) == QDir::cleanPath(info.absolutePath() + "/" + entry.data),
                         qPrintable(what));
            } else {
                QVERIFY2(info.isFile() && !info.isSymLink(), qPrintable(what));
                QVERIFY2(Sandbox::read(path) == entry.data, qPrintable(what + ": " + Sandbox::read(path)));
                QVERIFY2((QFile::permissions(path) & ownerGroupOther) == (infos.at(i).permissions & ownerGroupOther),
                         qPrintable(what));
            }
        }
    }
}

// The selective mode with a destination relative to the working folder.
void TestExtraction::selectiveModeRelativeDestination()
{
    Sandbox sandbox;
    QString zip = sandbox.path() + "/videos.zip";
    QVERIFY(writeZip(zip, {{ZipEntry::Dir, "nested/", {}}, {ZipEntry::File, "nested/clip.MP4", "clip"}}));
    const QString workingFolder = QDir::currentPath();
    QVERIFY(QDir(sandbox.path()).mkdir("dest"));
    QVERIFY(QDir::setCurrent(sandbox.path()));
    QString dest = "dest";
    UpgradeToolThread worker;
    worker.unZipResourceFiles(zip, dest, true);
    QVERIFY(QDir::setCurrent(workingFolder));
    const QStringList log = LogCapture::flush();

    QVERIFY2(LogCapture::matching(log, "failed").isEmpty(), qPrintable(log.join("\n")));
    QCOMPARE(treeOf(sandbox.path() + "/dest"), QStringList({"nested", "nested/clip.MP4"}));
    QCOMPARE(Sandbox::read(sandbox.path() + "/dest/nested/clip.MP4"), QByteArray("clip"));
    QCOMPARE(dest, QString("dest"));
}

void TestExtraction::dittoInCallersLocale_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("LC_ALL=C") << QByteArray("LC_ALL") << QByteArray("C");
    QTest::newRow("LC_CTYPE=POSIX") << QByteArray("LC_CTYPE") << QByteArray("POSIX");
}

// Names outside ASCII unpack whatever locale the caller runs in.
void TestExtraction::dittoInCallersLocale()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);

    Sandbox sandbox;
    QString zip = sandbox.path() + "/names.zip";
    QVERIFY(writeZip(zip, {{ZipEntry::Dir, "视频/", {}},
                           {ZipEntry::File, "视频/片头.mp4", "clip"},
                           {ZipEntry::File, "Ünïcode.txt", "text"}}));
    QString dest = sandbox.path() + "/dest";
    const QByteArray saved = qgetenv(variable.constData());
    const bool wasSet = qEnvironmentVariableIsSet(variable.constData());
    qputenv(variable.constData(), value);
    UpgradeToolThread worker;
    worker.unZipResourceFiles(zip, dest, false);
    if (wasSet)
        qputenv(variable.constData(), saved);
    else
        qunsetenv(variable.constData());
    const QStringList log = LogCapture::flush();

    QVERIFY2(LogCapture::matching(log, "ditto unzip succeeded").size() == 1, qPrintable(log.join("\n")));
    QCOMPARE(treeOf(dest), QStringList({"Ünïcode.txt", "视频", "视频/片头.mp4"}));
    QCOMPARE(Sandbox::read(dest + "/视频/片头.mp4"), QByteArray("clip"));
}

void TestExtraction::forceRemoveDir_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("unprivileged");
    const struct
    {
        const char* name;
        const char* layout;
    } layouts[] = {
        {"missing folder", "missing"},
        {"plain tree", "plain"},
        {"read-only tree", "readonly"},
        {"tree with links out", "links"},
        {"the folder is a link", "selflink"},
        {"link out in a read-only folder", "readonlylink"},
        {"hard link out in a read-only folder", "readonlyhardlink"},
    };
    // Root ignores permissions: only an unprivileged user meets the retry with changed modes.
    for (const auto& row : layouts) {
        QTest::newRow(row.name) << row.layout << false;
        QTest::newRow(qPrintable(QStringLiteral("%1, unprivileged").arg(row.name))) << row.layout << true;
    }
}

void TestExtraction::forceRemoveDir()
{
    QFETCH(QString, layout);
    QFETCH(bool, unprivileged);

    Sandbox sandbox;
    const QString target = sandbox.path() + "/image";
    const QString outside = sandbox.path() + "/outside";
    QVERIFY(Sandbox::write(outside + "/keep.png", "keep"));
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadUser;
    const QFileDevice::Permissions readOnlyDir = readOnly | QFileDevice::ExeOwner | QFileDevice::ExeUser;
    if (layout != "missing" && layout != "selflink") {
        QVERIFY(Sandbox::write(target + "/background/light_2K/Scan/Scan_00000.png", "png"));
        QVERIFY(Sandbox::write(target + "/background/.hidden", "h"));
        QVERIFY(Sandbox::write(target + "/top.png", "png"));
    }
    if (layout == "readonly") {
        QFile::setPermissions(target + "/top.png", readOnly);
        QFile::setPermissions(target + "/background/light_2K/Scan/Scan_00000.png", readOnly);
        QFile::setPermissions(target + "/background/light_2K/Scan", readOnlyDir);
        QFile::setPermissions(target + "/background", readOnlyDir);
    }
    if (layout == "links") {
        QVERIFY(QFile::link(outside, target + "/dirlink"));
        QVERIFY(QFile::link(outside + "/keep.png", target + "/filelink.png"));
        QFile::setPermissions(target + "/background", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    if (layout == "selflink")
        QVERIFY(QFile::link(outside, target));
    if (layout == "readonlylink" || layout == "readonlyhardlink") {
        // A read-only file outside, reached from a read-only folder of the tree.
        const QString folder = target + "/background/light_2K";
        QVERIFY(
            QFile::setPermissions(outside + "/keep.png", readOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        if (layout == "readonlylink") {
            QVERIFY(QFile::link(outside + "/keep.png", folder + "/.keep.png"));
            QVERIFY(QFile::link(outside + "/keep.png", folder + "/keep.png"));
        } else {
            QCOMPARE(::link(QFile::encodeName(outside + "/keep.png").constData(),
                            QFile::encodeName(folder + "/keep.png").constData()),
                     0);
        }
        QVERIFY(QFile::setPermissions(folder, readOnlyDir));
    }
    const QFileDevice::Permissions keepPermissions = QFile::permissions(outside + "/keep.png");

    if (unprivileged) {
        const QString unavailable = unprivilegedRemovalUnavailable(sandbox.path());
        if (!unavailable.isEmpty())
            QSKIP(qPrintable(unavailable + ": the removal as an unprivileged user is not tested"));
        removeAsUnprivilegedUser(sandbox.path(), target);
        if (QTest::currentTestFailed())
            return;
    } else {
        ::forceRemoveDir(target);
    }

    QVERIFY(!QFileInfo(target).exists() && !QFileInfo(target).isSymLink());
    QCOMPARE(Sandbox::read(outside + "/keep.png"), QByteArray("keep"));
    QCOMPARE(QFile::permissions(outside + "/keep.png"), keepPermissions);
}

QTEST_GUILESS_MAIN(TestExtraction)
#include "tst_Extraction.moc"
