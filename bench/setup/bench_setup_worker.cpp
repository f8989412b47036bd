// The worker's two heavy steps beside a plain baseline measured in the same run:
//  - installing a generated stand-in bundle archive of a few hundred MB ("ditto" stand-in)
//    beside "unzip" of the same archive;
//  - installing the same archive through a resource path, as the embedded bundle is
//    installed, beside "bsdtar" of the archive file, with the worker's peak memory beside
//    that of the same process when it installs nothing;
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
#include <QResource>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kRounds = 3;
constexpr int kResourceRounds = 5;
const char* const kResourceRun = "--install-resource";
const char* const kEmptyRun = "--install-nothing";
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

// The archive as a resource file of its own, stored as the embedded bundle is.
bool makeResourceFile(const QString& archive, const QString& rcc)
{
    const QString qrc = rcc + ".qrc";
    QFile list(qrc);
    if (!list.open(QIODevice::WriteOnly))
        return false;
    list.write(QString("<RCC><qresource prefix=\"/\"><file alias=\"Salvix.zip\">%1</file></qresource></RCC>\n")
                   .arg(archive)
                   .toUtf8());
    list.close();
    return QProcess::execute(RCC_EXECUTABLE, {"--binary", "--no-compress", qrc, "-o", rcc}) == 0;
}

double medianOf(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// A child run of this program: registers the resource file, installs its archive (or,
// for the empty run, nothing) and prints its seconds and its peak memory in KiB.
int installThroughResource(const QString& mode, const QString& rcc)
{
    if (!QResource::registerResource(rcc, "/bench"))
        return 1;
    QElapsedTimer timer;
    timer.start();
    UpgradeToolThread worker;
    QString zip = mode == kResourceRun ? QStringLiteral(":/bench/Salvix.zip") : QString();
    QString dest = getSystemFolder();
    worker.unZipResourceFiles(zip, dest, false);
    const double elapsed = seconds(timer);
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("%.6f %ld\n", elapsed, self.ru_maxrss);
    return 0;
}

struct ChildRun
{
    double seconds = 0;
    double selfMiB = 0;
};

bool runChild(const QString& mode, const QString& rcc, ChildRun& run)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {mode, rcc});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return false;
    const QStringList fields = QString::fromUtf8(child.readAllStandardOutput()).split(' ');
    if (fields.size() != 2)
        return false;
    run.seconds = fields.at(0).toDouble();
    run.selfMiB = fields.at(1).toDouble() / 1024.0;
    return true;
}

// Alternating rounds of the three runs; prints the ratios as min/median/max.
bool benchResourceInstall(const QString& archive, const QString& rcc, const QString& bsdtarDest)
{
    QList<double> ratios;
    QList<double> floorRatios;
    QList<double> extraMiB;
    QList<double> workerSeconds;
    QList<double> bsdtarSeconds;
    QList<double> copySeconds;
    for (int round = 0; round < kResourceRounds; ++round) {
        QDir(getMainFolder()).removeRecursively();
        ChildRun install;
        ChildRun empty;
        if (!runChild(kResourceRun, rcc, install) || !runChild(kEmptyRun, rcc, empty))
            return false;
        if (QFileInfo(getMainFolder() + "/Contents/Resources/data/part119.bin").size() != kDataFileBytes)
            return false;

        QDir(bsdtarDest).removeRecursively();
        QDir().mkpath(bsdtarDest);
        QElapsedTimer timer;
        timer.start();
        if (QProcess::execute("bsdtar", {"-x", "-p", "-f", archive, "-C", bsdtarDest}) != 0)
            return false;
        const double bsdtar = seconds(timer);

        // What the copy to the temporary file alone costs at least: a plain copy of the file.
        const QString copy = QDir::tempPath() + "/Salvix-copy.zip";
        timer.restart();
        if (QProcess::execute("cp", {archive, copy}) != 0)
            return false;
        copySeconds << seconds(timer);
        QFile::remove(copy);

        workerSeconds << install.seconds;
        bsdtarSeconds << bsdtar;
        ratios << install.seconds / bsdtar;
        floorRatios << install.seconds / (bsdtar + copySeconds.last());
        extraMiB << install.selfMiB - empty.selfMiB;
    }
    QDir(getMainFolder()).removeRecursively();
    QDir(bsdtarDest).removeRecursively();
    std::printf("install through a resource: worker %.3f s, bsdtar of the file %.3f s (medians); "
                "ratio worker/bsdtar min %.2f median %.2f max %.2f (goal <= 1.20)\n",
                medianOf(workerSeconds), medianOf(bsdtarSeconds), *std::min_element(ratios.cbegin(), ratios.cend()),
                medianOf(ratios), *std::max_element(ratios.cbegin(), ratios.cend()));
    std::printf("install through a resource: cp of the archive %.3f s (median); ratio worker/(bsdtar + cp) "
                "min %.2f median %.2f max %.2f\n",
                medianOf(copySeconds), *std::min_element(floorRatios.cbegin(), floorRatios.cend()),
                medianOf(floorRatios), *std::max_element(floorRatios.cbegin(), floorRatios.cend()));
    std::printf("install through a resource: peak memory above an empty run min %.1f median %.1f max %.1f MiB "
                "(goal < 64)\n",
                *std::min_element(extraMiB.cbegin(), extraMiB.cend()), medianOf(extraMiB),
                *std::max_element(extraMiB.cbegin(), extraMiB.cend()));
    return true;
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
    if (argc == 3 && (std::strcmp(argv[1], kResourceRun) == 0 || std::strcmp(argv[1], kEmptyRun) == 0))
        return installThroughResource(QString::fromUtf8(argv[1]), QString::fromUtf8(argv[2]));
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

    const QString rcc = box.path() + "/Salvix-large.rcc";
    if (!makeResourceFile(archive, rcc) || !benchResourceInstall(archive, rcc, box.path() + "/bsdtar")) {
        std::fprintf(stderr, "bench_setup_worker: the installation through a resource failed\n");
        return 1;
    }
    QFile::remove(rcc);
    // "install" as the argument measures the installations only.
    if (argc == 2 && std::strcmp(argv[1], "install") == 0)
        return 0;

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
