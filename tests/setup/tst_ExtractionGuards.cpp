// What a hostile archive, a planted entry or a second writer cannot make the unpacking
// and the tree removal do. Every archive is written byte by byte (ZipFixture.h).
#include "ArchiveExtraction.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "TreeListing.h"
#include "UpgradeToolThread.h"
#include "ZipFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStorageInfo>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QStringList modes{"whole", "selective"};

// Unpacks zip into dest the one way or the other; the selective mode reports nothing.
bool unpack(const QString& mode, QString zip, QString dest)
{
    if (mode == "whole")
        return extractZipToPath(zip, dest);
    UpgradeToolThread worker;
    worker.unZipResourceFiles(zip, dest, true);
    return false;
}

QByteArray text(int size)
{
    QByteArray data;
    for (int i = 0; data.size() < size; ++i)
        data += QByteArray::number(i) + " frames of a video\n";
    return data.left(size);
}

// Raw deflate of size zero bytes, made in pieces so that the test never holds them.
QByteArray deflatedZeros(qint64 size)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    const QByteArray zeros(1 << 20, '\0');
    QByteArray out;
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (qint64 left = size; left >= 0;) {
        const qint64 piece = qMin<qint64>(left, zeros.size());
        left -= piece;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
        stream.avail_in = uInt(piece);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
            stream.avail_out = uInt(chunk.size());
            deflate(&stream, flush);
            out.append(chunk.constData(), chunk.size() - qsizetype(stream.avail_out));
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH)
            break;
    }
    deflateEnd(&stream);
    return out;
}

ZipEntry file(const QString& name, const QByteArray& data, bool deflated = false)
{
    ZipEntry entry{ZipEntry::File, name, data};
    entry.deflated = deflated;
    return entry;
}

quint32 modeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

// Files, contents and modes of a tree, to see that nothing in it changed.
QStringList snapshot(const QString& root)
{
    QStringList state;
    for (const QString& path : treeOf(root)) {
        const QString full = root + "/" + path;
        state << path + " " + QString::number(modeOf(full), 8) + " "
                     + QString::fromLatin1(Sandbox::read(full).toHex().left(64));
    }
    return state;
}

// Runs call on a thread of its own; when it has not returned after a while, release()
// ends the wait it hangs in. False when release was needed.
bool returnsWithoutHanging(const std::function<void()>& call, const std::function<void()>& release)
{
    std::atomic<bool> done{false};
    std::thread worker([&] {
        call();
        done = true;
    });
    QElapsedTimer timer;
    timer.start();
    while (!done && timer.elapsed() < 10000)
        QThread::msleep(10);
    const bool returned = done;
    while (!done) {
        release();
        QThread::msleep(50);
    }
    worker.join();
    return returned;
}

// Swaps folder for a link to elsewhere and back, again and again, until stopped.
class FolderSwapper
{
public:
    FolderSwapper(const QString& folder, const QString& elsewhere)
        : m_folder(QFile::encodeName(folder))
        , m_away(QFile::encodeName(folder + ".away"))
        , m_elsewhere(QFile::encodeName(elsewhere))
        , m_thread([this] { run(); })
    {
    }
    ~FolderSwapper()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void run()
    {
        while (!m_stop) {
            if (::rename(m_folder.constData(), m_away.constData()) != 0)
                continue;
            ::symlink(m_elsewhere.constData(), m_folder.constData());
            std::this_thread::yield();
            ::unlink(m_folder.constData());
            ::rename(m_away.constData(), m_folder.constData());
        }
    }

    const QByteArray m_folder;
    const QByteArray m_away;
    const QByteArray m_elsewhere;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

class TestExtractionGuards : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void damagedEntries_data();
    void damagedEntries();
    void linkTargets_data();
    void linkTargets();
    void namesAsBytes();
    void boundedMemoryAndSpace_data();
    void boundedMemoryAndSpace();
    void archiveThatBlocks();
    void entryThatBlocks();
    void hardLinkInDestination();
    void notAnArchive_data();
    void notAnArchive();
    void forceRemoveDirOddTrees_data();
    void forceRemoveDirOddTrees();
    void forceRemoveDirRace();
    void extractionRace();
};

void TestExtractionGuards::initTestCase()
{
    LogCapture::install();
    // A writer released from a named pipe that nobody reads would be killed by the signal.
    std::signal(SIGPIPE, SIG_IGN);
}

void TestExtractionGuards::damagedEntries_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<QStringList>("selective"); // what the selective mode keeps

    const QByteArray video = text(200000);
    const QByteArray deflated = ZipBytes::deflateRaw(video);

    ZipEntry flipped = file("a.mp4", video, true);
    QByteArray damaged = deflated;
    for (qsizetype i = damaged.size() / 2; i < damaged.size() / 2 + 16; ++i)
        damaged[i] = char(damaged.at(i) ^ 0x5a);
    flipped.payload = damaged;
    QTest::newRow("deflate stream damaged") << QList<ZipEntry>{flipped} << QStringList{};

    ZipEntry cut = file("a.mp4", video, true);
    cut.payload = deflated.left(deflated.size() / 2) + QByteArray(deflated.size() - deflated.size() / 2, '\0');
    QTest::newRow("deflate stream cut short, zero padded") << QList<ZipEntry>{cut} << QStringList{};

    ZipEntry storedCut = file("a.mp4", video);
    storedCut.payload = video.left(video.size() / 2) + QByteArray(video.size() - video.size() / 2, '\0');
    QTest::newRow("stored data cut short, zero padded") << QList<ZipEntry>{storedCut} << QStringList{};

    ZipEntry wrongCrc = file("a.mp4", video);
    wrongCrc.crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(video.constData()), uInt(video.size())) ^ 1);
    QTest::newRow("CRC-32 differs") << QList<ZipEntry>{wrongCrc} << QStringList{};

    ZipEntry longer = file("a.mp4", QByteArray(1 << 20, 'x'), true);
    longer.size = 1;
    longer.crc = quint32(crc32(0, reinterpret_cast<const Bytef*>("x"), 1));
    QTest::newRow("data go on past the declared size") << QList<ZipEntry>{longer} << QStringList{};

    ZipEntry shorter = file("a.mp4", "abc", true);
    shorter.size = 1000;
    QTest::newRow("data end before the declared size") << QList<ZipEntry>{shorter} << QStringList{};

    QTest::newRow("a good entry, then a damaged one")
        << QList<ZipEntry>{{ZipEntry::Dir, "v/", {}}, file("v/good.mp4", video, true), wrongCrc}
        << QStringList{"v", "v/good.mp4"};
}

// A damaged entry fails the whole unpacking, which then leaves nothing it wrote; the
// selective mode keeps the good entries only.
void TestExtractionGuards::damagedEntries()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(QStringList, selective);

    for (const QString& mode : modes) {
        Sandbox sandbox;
        const QString zip = sandbox.path() + "/damaged.zip";
        QVERIFY(writeZip(zip, entries));
        const QString dest = sandbox.path() + "/dest";
        QVERIFY(QDir().mkpath(dest));
        QVERIFY2(!unpack(mode, zip, dest), qPrintable(mode));
        const QStringList log = LogCapture::flush();
        QCOMPARE(treeOf(dest), mode == "whole" ? QStringList() : selective);
        if (mode == "selective")
            QCOMPARE(Sandbox::read(dest + "/v/good.mp4").size(), selective.isEmpty() ? 0 : 200000);
        const QString line = mode == "whole" ? "[ArchiveExtraction] damaged entry, archive not unpacked:"
                                             : "[UpgradeToolThread] unZipResourceFiles damaged entry not kept:";
        QVERIFY2(LogCapture::matching(log, line).size() == 1, qPrintable(mode + ": " + log.join("\n")));
    }
}

void TestExtractionGuards::linkTargets_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<QStringList>("tree"); // the destination afterwards; empty: refused

    const ZipEntry sub{ZipEntry::Dir, "sub/", {}};
    QTest::newRow("link out of its folder") << QList<ZipEntry>{{ZipEntry::Link, "up", "../outside"}} << QStringList{};
    QTest::newRow("link far out") << QList<ZipEntry>{sub, {ZipEntry::Link, "sub/b", "../../.."}} << QStringList{};
    QTest::newRow("absolute target") << QList<ZipEntry>{{ZipEntry::Link, "abs", "/etc"}} << QStringList{};
    QTest::newRow("out through another link")
        << QList<ZipEntry>{{ZipEntry::Link, "here", "."}, {ZipEntry::Link, "there", "here/.."}} << QStringList{};
    QTest::newRow("file under a link in other letters")
        << QList<ZipEntry>{sub, {ZipEntry::Link, "L", "sub"}, file("l/x.mp4", "x")} << QStringList{};
    QTest::newRow("folder under a link in other letters")
        << QList<ZipEntry>{sub, {ZipEntry::Link, "Lnk", "sub"}, {ZipEntry::Dir, "lNK/in/", {}}} << QStringList{};
    QTest::newRow("backslash dot-dot target")
        << QList<ZipEntry>{{ZipEntry::Link, "up", "..\\outside"}} << QStringList{};
    QTest::newRow("links that stay inside") << QList<ZipEntry>{sub,
                                                               file("sub/c.mp4", "c"),
                                                               {ZipEntry::Link, "sub/b", "../sub/./c.mp4"},
                                                               {ZipEntry::Link, "top", "sub"},
                                                               {ZipEntry::Link, "self", "."}}
                                            << QStringList{"self", "sub", "sub/b", "sub/c.mp4", "top"};
}

// A link never points outside the folder it is unpacked into; an archive with one that
// would is refused whole.
void TestExtractionGuards::linkTargets()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(QStringList, tree);

    Sandbox sandbox;
    const QString zip = sandbox.path() + "/links.zip";
    QVERIFY(writeZip(zip, entries));
    const QString dest = sandbox.path() + "/dest";
    const bool extracted = extractZipToPath(zip, dest);
    const QStringList log = LogCapture::flush();
    QCOMPARE(extracted, !tree.isEmpty());
    QCOMPARE(treeOf(dest), tree);
    if (tree.isEmpty()) {
        QVERIFY(!QFileInfo::exists(dest));
        QCOMPARE(LogCapture::matching(log, "[ArchiveExtraction] refused archive with entries outside").size(), 1);
    }
    for (const ZipEntry& entry : entries) {
        if (entry.kind == ZipEntry::Link && extracted)
            QCOMPARE(QFile::encodeName(QFile::symLinkTarget(dest + "/" + entry.name)),
                     QFile::encodeName(
                         QDir::cleanPath(QFileInfo(dest + "/" + entry.name).absolutePath() + "/" + entry.data)));
    }
}

// Names are places relative to the destination, taken as the bytes they are: one
// beginning with ":" is no resource path, and one that is not UTF-8 keeps its bytes.
void TestExtractionGuards::namesAsBytes()
{
    for (const QString& mode : modes) {
        Sandbox sandbox;
        ZipEntry raw = file(QString(), "raw name");
        raw.rawName = QByteArray("\xff\xfe-raw.mp4");
        const QList<ZipEntry> entries{
            {ZipEntry::Dir, ":dir/", {}}, file(":dir/in.mp4", "in"), file(":top.mp4", "top"), raw};
        const QString zip = sandbox.path() + "/names.zip";
        QVERIFY(writeZip(zip, entries));
        const QString dest = sandbox.path() + "/dest";
        const QString working = sandbox.path() + "/working";
        QVERIFY(QDir().mkpath(dest) && QDir().mkpath(working));
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(working));
        unpack(mode, zip, dest);
        QVERIFY(QDir::setCurrent(saved));
        LogCapture::flush();

        QCOMPARE(treeOf(working), QStringList());
        QCOMPARE(Sandbox::read(dest + "/:dir/in.mp4"), QByteArray("in"));
        QCOMPARE(Sandbox::read(dest + "/:top.mp4"), QByteArray("top"));
        const QByteArray rawPath = QFile::encodeName(dest) + "/\xff\xfe-raw.mp4";
        struct stat status;
        QVERIFY2(::lstat(rawPath.constData(), &status) == 0 && S_ISREG(status.st_mode), qPrintable(mode));
    }
}

void TestExtractionGuards::boundedMemoryAndSpace_data()
{
    QTest::addColumn<QByteArray>("archive");

    ZipEntry declared2GiB = file("a.mp4", QByteArray(), true);
    declared2GiB.size = 0x80000000u;
    const QByteArray small = zipBytes({declared2GiB});
    QVERIFY(small.size() <= 110);
    QTest::newRow("small archive declaring 2 GiB") << small;

    ZipEntry longer = file("a.mp4", QByteArray(), true);
    longer.payload = deflatedZeros(qint64(1200) << 20);
    longer.size = 1;
    longer.crc = quint32(crc32(0, reinterpret_cast<const Bytef*>("\0"), 1));
    QTest::newRow("1200 MiB declared as 1 byte") << zipBytes({longer});

    // Entries of almost 4 GiB each, more of them than there is room for.
    const qint64 available = QStorageInfo(QDir::tempPath()).bytesAvailable();
    QList<ZipEntry> many;
    for (qint64 declared = 0; declared <= available; declared += 0xfffff000u) {
        ZipEntry entry = file(QString("big%1.mp4").arg(many.size()), QByteArray(), true);
        entry.size = 0xfffff000u;
        many.append(entry);
    }
    QTest::newRow("more declared than the free space") << zipBytes(many);
}

// Whatever an archive declares, unpacking it takes little memory and refuses what does not
// fit: a process limited to 512 MiB of address space unpacks nothing and ends normally.
void TestExtractionGuards::boundedMemoryAndSpace()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer needs more address space than the limit leaves");
#endif
    QFETCH(QByteArray, archive);

    for (const QString& mode : modes) {
        Sandbox sandbox;
        const QString zip = sandbox.path() + "/declared.zip";
        QVERIFY(Sandbox::write(zip, archive));
        const QString dest = sandbox.path() + "/dest";
        QVERIFY(QDir().mkpath(dest));
        QProcess helper;
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper.start(EXTRACTION_HELPER, {"512", mode, zip, dest});
        QVERIFY(helper.waitForFinished(120000));
        QVERIFY2(helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0, qPrintable(mode));
        QCOMPARE(helper.readAllStandardOutput().trimmed(), QByteArray("0"));
        QCOMPARE(treeOf(dest), QStringList());
    }
}

// The archive named is a named pipe that nobody writes: it is refused at once.
void TestExtractionGuards::archiveThatBlocks()
{
    for (const QString& mode : modes) {
        Sandbox sandbox;
        const QString zip = sandbox.path() + "/Salvix Setup.zip";
        QCOMPARE(::mkfifo(QFile::encodeName(zip).constData(), 0600), 0);
        const QString dest = sandbox.path() + "/dest";
        QVERIFY(QDir().mkpath(dest));
        bool extracted = true;
        const bool returned =
            returnsWithoutHanging([&] { extracted = unpack(mode, zip, dest); },
                                  [&] {
                                      const int fd = ::open(QFile::encodeName(zip).constData(), O_WRONLY | O_NONBLOCK);
                                      if (fd >= 0)
                                          ::close(fd);
                                  });
        LogCapture::flush();
        QVERIFY2(returned, qPrintable(mode));
        QVERIFY(!extracted);
        QCOMPARE(treeOf(dest), QStringList());
    }
}

// A named pipe where an entry goes is replaced by the entry, not written into.
void TestExtractionGuards::entryThatBlocks()
{
    for (const QString& mode : modes) {
        Sandbox sandbox;
        const QString zip = sandbox.path() + "/a.zip";
        QVERIFY(writeZip(zip, {file("a.mp4", "video", true)}));
        const QString dest = sandbox.path() + "/dest";
        QVERIFY(QDir().mkpath(dest));
        const QByteArray fifo = QFile::encodeName(dest + "/a.mp4");
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const bool returned = returnsWithoutHanging([&] { unpack(mode, zip, dest); },
                                                    [&] {
                                                        const int fd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
                                                        if (fd >= 0)
                                                            ::close(fd);
                                                    });
        LogCapture::flush();
        QVERIFY2(returned, qPrintable(mode));
        QVERIFY(S_ISREG(modeOf(dest + "/a.mp4")));
        QCOMPARE(Sandbox::read(dest + "/a.mp4"), QByteArray("video"));
    }
}

// A hard link planted where an entry goes, to a file outside, gets neither the entry's
// bytes nor its mode: the entry is a new file.
void TestExtractionGuards::hardLinkInDestination()
{
    for (const QString& mode : modes) {
        Sandbox sandbox;
        const QString victim = sandbox.path() + "/outside/document.txt";
        QVERIFY(Sandbox::write(victim, "the user's document"));
        QVERIFY(QFile::setPermissions(victim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        const QString name = "Salvix Setup.app/Contents/MacOS/Salvix Setup.mp4";
        const QString dest = sandbox.path() + "/Upgrade";
        QVERIFY(QDir().mkpath(dest + "/Salvix Setup.app/Contents/MacOS"));
        QCOMPARE(::link(QFile::encodeName(victim).constData(), QFile::encodeName(dest + "/" + name).constData()), 0);
        const QString zip = sandbox.path() + "/Salvix Setup.zip";
        QVERIFY(writeZip(zip, {{ZipEntry::Dir, "Salvix Setup.app/", {}},
                               {ZipEntry::Dir, "Salvix Setup.app/Contents/", {}},
                               {ZipEntry::Dir, "Salvix Setup.app/Contents/MacOS/", {}},
                               {ZipEntry::Executable, name, "new program"}}));
        const quint32 victimMode = modeOf(victim);
        unpack(mode, zip, dest);
        LogCapture::flush();

        QCOMPARE(Sandbox::read(victim), QByteArray("the user's document"));
        QCOMPARE(QString::number(modeOf(victim), 8), QString::number(victimMode, 8));
        QCOMPARE(Sandbox::read(dest + "/" + name), QByteArray("new program"));
        if (mode == "whole")
            QCOMPARE(QString::number(modeOf(dest + "/" + name) & 07777, 8), QString("755"));
    }
}

void TestExtractionGuards::notAnArchive_data()
{
    QTest::addColumn<QString>("content"); // a file to copy, or the bytes themselves

    QTest::newRow("the running program, archive resources compiled in") << QCoreApplication::applicationFilePath();
    QTest::newRow("text") << "text, no archive";
    QTest::newRow("empty") << "";
}

// A file that holds no zip archive, such as the running program itself, is not unpacked,
// and that is no error: nothing is logged.
void TestExtractionGuards::notAnArchive()
{
    QFETCH(QString, content);
    Sandbox sandbox;
    const QString zip = sandbox.path() + "/Salvix Setup.zip";
    if (QFileInfo(content).isAbsolute())
        QVERIFY(QFile::copy(content, zip));
    else
        QVERIFY(Sandbox::write(zip, content.toUtf8()));
    const QString dest = sandbox.path() + "/Upgrade";
    QVERIFY(!extractZipToPath(zip, dest));
    QCOMPARE(LogCapture::flush(), QStringList());
    QVERIFY(!QFileInfo::exists(dest));
}

void TestExtractionGuards::forceRemoveDirOddTrees_data()
{
    QTest::addColumn<QString>("layout");
    QTest::newRow("names that are not UTF-8") << "bytes";
    QTest::newRow("deeper than the path length limit") << "deep";
}

void TestExtractionGuards::forceRemoveDirOddTrees()
{
    QFETCH(QString, layout);
    Sandbox sandbox;
    const QString target = sandbox.path() + "/image";
    QVERIFY(QDir().mkpath(target));
    int folder = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(folder >= 0);
    if (layout == "bytes") {
        QCOMPARE(::mkdirat(folder, "\xff\xfe", 0755), 0);
        const int file = ::openat(folder, "\xff\xfe/\x80.png", O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(file >= 0);
        ::close(file);
        QCOMPARE(::symlinkat("/", folder, "\xc3\x28"), 0);
    } else {
        for (int depth = 0; depth < 1200; ++depth) {
            QCOMPARE(::mkdirat(folder, "level", 0755), 0);
            const int next = ::openat(folder, "level", O_RDONLY | O_DIRECTORY);
            ::close(folder);
            folder = next;
            QVERIFY(folder >= 0);
        }
        const int file = ::openat(folder, "frame.png", O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(file >= 0);
        ::close(file);
    }
    ::close(folder);

    forceRemoveDir(target);
    struct stat status;
    QVERIFY(::lstat(QFile::encodeName(target).constData(), &status) != 0 && errno == ENOENT);
}

// A second writer swaps a folder of the tree for a link to an outside folder, again and
// again, while the tree is removed: nothing outside is removed or changes its mode.
void TestExtractionGuards::forceRemoveDirRace()
{
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 40 && timer.elapsed() < 30000; ++round) {
        Sandbox sandbox;
        // The outside folder holds what the swapped folder holds, under the same names.
        const QString outside = sandbox.path() + "/outside";
        const QString target = sandbox.path() + "/image";
        for (const QString& folder : {outside, target + "/theme"}) {
            for (int i = 0; i < 200; ++i)
                QVERIFY(Sandbox::write(QString("%1/sub/frame%2.png").arg(folder).arg(i), "png"));
            QVERIFY(QFile::setPermissions(folder + "/sub", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        const QStringList before = snapshot(outside);
        {
            FolderSwapper swapper(target + "/theme", outside);
            forceRemoveDir(target);
        }
        QCOMPARE(snapshot(outside), before);
        QFile::setPermissions(outside + "/sub",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

// The same while an archive is unpacked into the tree: nothing is written outside.
void TestExtractionGuards::extractionRace()
{
    QList<ZipEntry> entries{{ZipEntry::Dir, "theme/", {}}};
    for (int i = 0; i < 300; ++i)
        entries.append(file(QString("theme/clip%1.mp4").arg(i), text(4096), true));
    const QByteArray archive = zipBytes(entries);

    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 40 && timer.elapsed() < 30000; ++round) {
        for (const QString& mode : modes) {
            Sandbox sandbox;
            const QString outside = sandbox.path() + "/outside";
            QVERIFY(Sandbox::write(outside + "/keep.txt", "keep"));
            const QString zip = sandbox.path() + "/race.zip";
            QVERIFY(Sandbox::write(zip, archive));
            const QString dest = sandbox.path() + "/dest";
            QVERIFY(QDir().mkpath(dest + "/theme"));
            const QStringList before = snapshot(outside);
            {
                FolderSwapper swapper(dest + "/theme", outside);
                unpack(mode, zip, dest);
            }
            LogCapture::flush();
            QVERIFY2(snapshot(outside) == before, qPrintable(QString("%1, round %2").arg(mode).arg(round)));
        }
    }
}

QTEST_GUILESS_MAIN(TestExtractionGuards)
#include "tst_ExtractionGuards.moc"
