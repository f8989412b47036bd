// The worker's two heavy steps beside a plain baseline measured in the same run:
//  - installing a generated stand-in bundle archive of a few hundred MB ("ditto" stand-in)
//    beside "unzip" of the same archive;
//  - decoding the embedded bundle's 24 videos, one decoder thread per theme, beside the
//    same ffmpeg commands run one after another.

#include "FfmpegDecodeThread.h"
#include "Locations.h"
#include "UpgradeToolThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRounds = 3;
constexpr int kDataFiles = 120;
constexpr qint64 kDataFileBytes = 2621440; // 120 x 2.5 MiB = 300 MiB

// A bundle of incompressible data files with a link and an executable, stored like the
// real archive (no compression, links kept).
bool makeArchive(const QString& stage, const QString& archive)
{
    const QString contents = stage + "/Salvix.app/Contents";
    QDir().mkpath(contents + "/MacOS");
    QDir().mkpath(contents + "/Resources/data");
    QByteArray block(kDataFileBytes, Qt::Uninitialized);
    for (int i = 0; i < kDataFiles; ++i) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        QFile file(QString("%1/Resources/data/part%2.bin").arg(contents).arg(i, 3, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(block) != block.size())
            return false;
    }
    QFile program(contents + "/MacOS/Salvix");
    if (!program.open(QIODevice::WriteOnly) || program.write("#!/bin/sh\n") < 0)
        return false;
    program.close();
    program.setPermissions(program.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                           | QFileDevice::ExeOther);
    QFile::link("Salvix", contents + "/MacOS/Salvix.link");

    QProcess zip;
    zip.setWorkingDirectory(stage);
    zip.start("zip", {"-q", "-r", "-y", "-0", archive, "Salvix.app"});
    return zip.waitForFinished(-1) && zip.exitCode() == 0;
}

double seconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

int countFrames(const QString& folder)
{
    int count = 0;
    QDirIterator it(folder, {"*.png"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

void installEmbeddedBundle()
{
    QDir(getMainFolder()).removeRecursively();
    UpgradeToolThread worker;
    QString zip = QStringLiteral(":/release_patch/Salvix.zip");
    QString dest = getSystemFolder();
    worker.unZipResourceFiles(zip, dest, false);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir box;
    if (!box.isValid())
        return 1;
    for (const char* folder : {"root/Applications", "home", "tmp", "stage", "unzip"})
        QDir(box.path()).mkpath(folder);
    qputenv("SALVIX_ROOT", (box.path() + "/root").toUtf8());
    qputenv("HOME", (box.path() + "/home").toUtf8());
    qputenv("TMPDIR", (box.path() + "/tmp").toUtf8());
    qputenv("PATH", QByteArray(PLATFORM_TOOLS_DIR) + ":" + qgetenv("PATH"));

    // Installation of a large archive.
    const QString archive = box.path() + "/Salvix-large.zip";
    if (!makeArchive(box.path() + "/stage", archive)) {
        std::fprintf(stderr, "bench_setup_worker: cannot make the archive\n");
        return 1;
    }
    QDir(box.path() + "/stage").removeRecursively();
    const double archiveMiB = static_cast<double>(QFileInfo(archive).size()) / 1048576.0;

    double bestInstall = 1e9;
    double bestUnzip = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        QDir(getMainFolder()).removeRecursively();
        QElapsedTimer timer;
        timer.start();
        {
            UpgradeToolThread worker;
            QString zipPath = archive;
            QString dest = getSystemFolder();
            worker.unZipResourceFiles(zipPath, dest, false);
        }
        bestInstall = std::min(bestInstall, seconds(timer));

        QDir(box.path() + "/unzip").removeRecursively();
        timer.restart();
        QProcess::execute("unzip", {"-q", "-o", archive, "-d", box.path() + "/unzip"});
        bestUnzip = std::min(bestUnzip, seconds(timer));
    }
    if (QFileInfo(getMainFolder() + "/Contents/Resources/data/part119.bin").size() != kDataFileBytes) {
        std::fprintf(stderr, "bench_setup_worker: the installation is incomplete\n");
        return 1;
    }
    QDir(getMainFolder()).removeRecursively();
    QDir(box.path() + "/unzip").removeRecursively();
    std::printf("install %.0f MiB archive: worker (ditto stand-in) %.3f s, unzip %.3f s, ratio worker/unzip %.2f\n",
                archiveMiB, bestInstall, bestUnzip, bestInstall / bestUnzip);

    // Decoding of the 24 videos.
    const QString frames = getImageFolder() + "/background";
    double bestParallel = 1e9;
    double bestSequential = 1e9;
    int parallelFrames = 0;
    int sequentialFrames = 0;
    for (int round = 0; round < kRounds; ++round) {
        installEmbeddedBundle();
        QDir(getImageFolder()).removeRecursively();
        QElapsedTimer timer;
        timer.start();
        {
            UpgradeToolThread worker;
            worker.decodeAnimate();
        }
        bestParallel = std::min(bestParallel, seconds(timer));
        parallelFrames = countFrames(frames);
        QCoreApplication::processEvents();

        installEmbeddedBundle();
        QDir(getImageFolder()).removeRecursively();
        UpgradeToolThread lister;
        QList<VideoDecodeInfo> videos;
        const QString source = getMp4SourceFolder() + "/background";
        for (const QFileInfo& theme : QDir(source).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QList<VideoDecodeInfo> list;
            lister.parseSubFolderVideoInfo(theme.absoluteFilePath(), frames + "/" + theme.fileName(), list);
            videos << list;
        }
        FfmpegDecodeThread commands;
        timer.restart();
        for (const VideoDecodeInfo& video : std::as_const(videos)) {
            QList<QString> arguments;
            const QString program = commands.buildFfmpegCommand(video, arguments);
            QDir().mkpath(video.outputDir);
            QProcess::execute(program, arguments);
        }
        bestSequential = std::min(bestSequential, seconds(timer));
        sequentialFrames = countFrames(frames);
    }
    if (parallelFrames != sequentialFrames || parallelFrames == 0) {
        std::fprintf(stderr, "bench_setup_worker: frames differ (%d parallel, %d sequential)\n", parallelFrames,
                     sequentialFrames);
        return 1;
    }
    std::printf("decode 24 videos into %d frames: decodeAnimate (one thread per theme) %.3f s, "
                "one after another %.3f s, speed-up %.2f\n",
                parallelFrames, bestParallel, bestSequential, bestSequential / bestParallel);
    return 0;
}
