// The per-theme decoder: the ffmpeg command it builds, one video decoded with the real
// ffmpeg, and the order of its signals.

#include "FfmpegDecodeThread.h"
#include "LogCapture.h"
#include "Sandbox.h"

#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QSemaphore>
#include <QStringList>
#include <QTest>

class TestFfmpegDecodeThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buildsCommand_data();
    void buildsCommand();
    void refusesIncompleteRecord_data();
    void refusesIncompleteRecord();
    void bundledFfmpegIsMadeExecutable();
    void decodesVideo_data();
    void decodesVideo();
    void runReportsEachVideoAndKeepsFailedSources();
    void destroyedBeforeStartEmitsNothing();
    void destroyedWhileRunningFinishesVideoInHand();

private:
    // A test video of the given length at 24 frames per second.
    static bool makeVideo(const QString& path, int seconds);
    static VideoDecodeInfo record(const QString& videoPath, const QString& outputDir, const QString& name);
    static int frameCount(const QString& folder);

    QTemporaryDir m_videos;
    QString m_fourSeconds;
    QString m_oneSecond;
};

bool TestFfmpegDecodeThread::makeVideo(const QString& path, int seconds)
{
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             {"-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                              QString("testsrc=duration=%1:size=32x24:rate=24").arg(seconds), "-c:v", "mpeg4",
                              "-pix_fmt", "yuv420p", path})
           == 0;
}

VideoDecodeInfo TestFfmpegDecodeThread::record(const QString& videoPath, const QString& outputDir, const QString& name)
{
    VideoDecodeInfo info;
    info.videoPath = videoPath;
    info.fps = 24;
    info.frameCount = 72;
    info.outputDir = outputDir;
    info.outputPattern = name + QStringLiteral("_%05d.png");
    return info;
}

int TestFfmpegDecodeThread::frameCount(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files).size();
}

void TestFfmpegDecodeThread::initTestCase()
{
    LogCapture::install();
    QVERIFY(m_videos.isValid());
    m_fourSeconds = m_videos.filePath(QStringLiteral("four.mp4"));
    m_oneSecond = m_videos.filePath(QStringLiteral("one.mp4"));
    QVERIFY(makeVideo(m_fourSeconds, 4));
    QVERIFY(makeVideo(m_oneSecond, 1));
}

void TestFfmpegDecodeThread::buildsCommand_data()
{
    QTest::addColumn<QString>("outputDir");
    QTest::addColumn<QString>("outputPath");

    QTest::newRow("no separator") << "/frames/Scan"
                                  << "/frames/Scan/Scan_%05d.png";
    QTest::newRow("trailing slash") << "/frames/Scan/"
                                    << "/frames/Scan/Scan_%05d.png";
    QTest::newRow("trailing backslash") << "C:\\frames\\Scan\\"
                                        << "C:\\frames\\Scan\\Scan_%05d.png";
}

void TestFfmpegDecodeThread::buildsCommand()
{
    QFETCH(QString, outputDir);
    QFETCH(QString, outputPath);
    Sandbox sandbox;
    LogCapture::flush();

    FfmpegDecodeThread decoder;
    QList<QString> arguments{QStringLiteral("left over")};
    const QString program = decoder.buildFfmpegCommand(record("/v/Scan/Scan.mp4", outputDir, "Scan"), arguments);

    // No Salvix installed in the sandbox: the search path's ffmpeg.
    QCOMPARE(program, QStringLiteral("ffmpeg"));
    const QList<QString> expected{"-i", "/v/Scan/Scan.mp4", "-vf", "fps=24",  "-vframes",
                                  "72", "-start_number",    "0",   outputPath};
    QCOMPARE(arguments, expected);

    const QStringList log = LogCapture::flush();
    QCOMPARE(log.filter("Bundled ffmpeg not found at").size(), 1);
    QVERIFY(log.filter("falling back to system PATH")
                .first()
                .contains(sandbox.applications() + "/Salvix.app/Contents/MacOS/ffmpeg"));
    QCOMPARE(log.filter("[FfmpegDecodeThread] Full command:").size(), 1);
    QVERIFY(log.filter("[FfmpegDecodeThread] Full command:").first().contains("-vframes"));
}

void TestFfmpegDecodeThread::refusesIncompleteRecord_data()
{
    QTest::addColumn<QString>("videoPath");
    QTest::addColumn<QString>("outputDir");
    QTest::addColumn<QString>("name");

    QTest::newRow("no video") << ""
                              << "/frames/Scan"
                              << "Scan";
    QTest::newRow("no output folder") << "/v/Scan.mp4"
                                      << ""
                                      << "Scan";
    QTest::newRow("no pattern") << "/v/Scan.mp4"
                                << "/frames/Scan"
                                << "";
}

void TestFfmpegDecodeThread::refusesIncompleteRecord()
{
    QFETCH(QString, videoPath);
    QFETCH(QString, outputDir);
    QFETCH(QString, name);
    Sandbox sandbox;
    LogCapture::flush();

    VideoDecodeInfo info = record(videoPath, outputDir, name);
    if (name.isEmpty())
        info.outputPattern.clear();
    FfmpegDecodeThread decoder;
    QList<QString> arguments{QStringLiteral("left over")};
    QVERIFY(decoder.buildFfmpegCommand(info, arguments).isEmpty());
    QVERIFY(arguments.isEmpty());
    QCOMPARE(LogCapture::flush().filter("FfmpegDecodeThread::buildFfmpegCommand cmd empty").size(), 1);
}

void TestFfmpegDecodeThread::bundledFfmpegIsMadeExecutable()
{
    Sandbox sandbox;
    const QString bundled = sandbox.applications() + QStringLiteral("/Salvix.app/Contents/MacOS/ffmpeg");
    QVERIFY(Sandbox::write(bundled, "#!/bin/sh\n"));
    QVERIFY(QFile::setPermissions(bundled, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    LogCapture::flush();

    FfmpegDecodeThread decoder;
    QList<QString> arguments;
    QCOMPARE(decoder.buildFfmpegCommand(record("/v/Scan/Scan.mp4", "/f", "Scan"), arguments), bundled);
    QCOMPARE(QFileInfo(bundled).permissions() & 0x7077,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                 | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QCOMPARE(LogCapture::flush().filter("[FfmpegDecodeThread] ensuring ffmpeg is executable:").size(), 1);
}

void TestFfmpegDecodeThread::decodesVideo_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("logText");

    QTest::newRow("four seconds: 72 frames") << "four" << true << 72 << "";
    QTest::newRow("one second: all 24 frames") << "one" << true << 24 << "";
    QTest::newRow("missing video") << "missing" << false << 0 << "";
    QTest::newRow("not a video") << "broken" << false << 0 << "FFmpeg process failed, exitCode:";
}

void TestFfmpegDecodeThread::decodesVideo()
{
    QFETCH(QString, source);
    QFETCH(bool, ok);
    QFETCH(int, frames);
    QFETCH(QString, logText);
    Sandbox sandbox;

    QString videoPath = sandbox.path() + "/missing.mp4";
    if (source == "four")
        videoPath = m_fourSeconds;
    else if (source == "one")
        videoPath = m_oneSecond;
    else if (source == "broken")
        QVERIFY(Sandbox::write(videoPath = sandbox.path() + "/broken.mp4", "not a video"));

    // The frame folder and its parents do not exist yet.
    const QString outputDir = sandbox.path() + "/frames/theme/Scan";
    LogCapture::flush();
    FfmpegDecodeThread decoder;
    QCOMPARE(decoder.decodeVideo(record(videoPath, outputDir, "Scan")), ok);
    QCOMPARE(frameCount(outputDir), frames);
    if (frames > 0) {
        QVERIFY(QFile::exists(outputDir + "/Scan_00000.png"));
        QVERIFY(QFile::exists(outputDir + QString("/Scan_%1.png").arg(frames - 1, 5, 10, QLatin1Char('0'))));
    }
    if (!logText.isEmpty())
        QCOMPARE(LogCapture::flush().filter(logText).size(), 1);
}

void TestFfmpegDecodeThread::runReportsEachVideoAndKeepsFailedSources()
{
    Sandbox sandbox;
    const QString good = sandbox.path() + "/src/good.mp4";
    const QString broken = sandbox.path() + "/src/broken.mp4";
    const QString missing = sandbox.path() + "/src/missing.mp4";
    QVERIFY(Sandbox::write(good, Sandbox::read(m_oneSecond)));
    QVERIFY(Sandbox::write(broken, "not a video"));

    FfmpegDecodeThread decoder;
    decoder.setVideoList(
        {record(good, sandbox.path() + "/f/good", "good"), record(broken, sandbox.path() + "/f/broken", "broken")});
    decoder.addVideoInfo(record(missing, sandbox.path() + "/f/missing", "missing"));

    QMutex mutex;
    QStringList events;
    auto note = [&](const QString& event) {
        const QMutexLocker lock(&mutex);
        events << event;
    };
    connect(
        &decoder, &FfmpegDecodeThread::decodeStarted, this,
        [&](const QString& path) { note("started " + QFileInfo(path).baseName()); }, Qt::DirectConnection);
    connect(
        &decoder, &FfmpegDecodeThread::decodeFinished, this,
        [&](const QString& path, bool success) {
            note(QString("finished %1 %2").arg(QFileInfo(path).baseName()).arg(success));
        },
        Qt::DirectConnection);
    connect(
        &decoder, &FfmpegDecodeThread::decodeProgress, this,
        [&](int current, int total, const QString& path) {
            note(QString("progress %1/%2 %3").arg(current).arg(total).arg(QFileInfo(path).baseName()));
        },
        Qt::DirectConnection);
    connect(
        &decoder, &FfmpegDecodeThread::allDecodeFinished, this, [&] { note("all finished"); }, Qt::DirectConnection);

    decoder.start();
    QVERIFY(decoder.wait(60000));

    const QStringList expected{"started good",         "finished good 1",     "progress 1/3 good", "started broken",
                               "finished broken 0",    "progress 2/3 broken", "started missing",   "finished missing 0",
                               "progress 3/3 missing", "all finished"};
    QCOMPARE(events, expected);
    QVERIFY(!QFile::exists(good));
    // A failed video keeps its source for the next run.
    QVERIFY(QFile::exists(broken));
    QCOMPARE(frameCount(sandbox.path() + "/f/good"), 24);
}

void TestFfmpegDecodeThread::destroyedBeforeStartEmitsNothing()
{
    auto* decoder = new FfmpegDecodeThread();
    decoder->setVideoList({record(m_oneSecond, m_videos.filePath("unused"), "one")});
    int signalsSeen = 0;
    connect(
        decoder, &FfmpegDecodeThread::decodeStarted, this, [&] { ++signalsSeen; }, Qt::DirectConnection);
    connect(
        decoder, &FfmpegDecodeThread::allDecodeFinished, this, [&] { ++signalsSeen; }, Qt::DirectConnection);
    delete decoder;
    QCOMPARE(signalsSeen, 0);
    QVERIFY(QFile::exists(m_oneSecond));
}

void TestFfmpegDecodeThread::destroyedWhileRunningFinishesVideoInHand()
{
    Sandbox sandbox;
    QList<VideoDecodeInfo> list;
    for (const QString name : {"a", "b", "c"}) {
        const QString path = sandbox.path() + "/src/" + name + ".mp4";
        QVERIFY(Sandbox::write(path, Sandbox::read(m_fourSeconds)));
        list << record(path, sandbox.path() + "/f/" + name, name);
    }

    auto* decoder = new FfmpegDecodeThread();
    decoder->setVideoList(list);
    QSemaphore firstStarted;
    QAtomicInt started = 0;
    QAtomicInt finished = 0;
    QAtomicInt allFinished = 0;
    connect(
        decoder, &FfmpegDecodeThread::decodeStarted, this,
        [&] {
            ++started;
            firstStarted.release();
        },
        Qt::DirectConnection);
    connect(
        decoder, &FfmpegDecodeThread::decodeProgress, this, [&] { ++finished; }, Qt::DirectConnection);
    connect(
        decoder, &FfmpegDecodeThread::allDecodeFinished, this, [&] { ++allFinished; }, Qt::DirectConnection);

    decoder->start();
    QVERIFY(firstStarted.tryAcquire(1, 30000));
    delete decoder;

    QVERIFY(started.loadRelaxed() < 3);
    QCOMPARE(finished.loadRelaxed(), started.loadRelaxed());
    QCOMPARE(allFinished.loadRelaxed(), 1);
    QCOMPARE(frameCount(sandbox.path() + "/f/a"), 72);
    QVERIFY(!QFile::exists(sandbox.path() + "/src/a.mp4"));
    QVERIFY(QFile::exists(sandbox.path() + "/src/c.mp4"));
}

QTEST_GUILESS_MAIN(TestFfmpegDecodeThread)
#include "tst_FfmpegDecodeThread.moc"
