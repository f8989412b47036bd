#include "BlockRecordJob_p.h"

#include "QuilmLog.h"

#include <QFile>
#include <QThread>

#include <sys/stat.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

namespace {

// The source under another name (a hard link, a symbolic link, "./") is
// refused before the destination is opened, and so truncated, for writing.
bool isSourceFile(const QFile& source, const QFile& dest)
{
    struct stat sourceStatus;
    struct stat destStatus;
    return fstat(source.handle(), &sourceStatus) == 0
           && stat(QFile::encodeName(dest.fileName()).constData(), &destStatus) == 0
           && sourceStatus.st_dev == destStatus.st_dev && sourceStatus.st_ino == destStatus.st_ino;
}

QString latin1(const std::string& name)
{
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

} // namespace

BlockRecordJob::Step::~Step() = default;

BlockRecordJob::BlockRecordJob(QThread& thread, const LogLines& lines)
    : thread(thread)
    , lines(lines)
{
}

bool BlockRecordJob::start(const std::string& sourceFileName, const std::string& destFileName)
{
    successful = false;
    QLOG_INFO() << lines.startSourceName << sourceFileName.c_str();
    QLOG_INFO() << lines.startDestName << destFileName.c_str();
    if (sourceFileName.empty() || destFileName.empty())
        return false;
    if (!stopRequest.awaitFinishedJob(thread)) {
        QLOG_INFO() << lines.startWhileRunning;
        return false;
    }
    this->sourceFileName = sourceFileName;
    this->destFileName = destFileName;
    stopRequest.reset();
    thread.start(QThread::InheritPriority);
    QLOG_INFO() << lines.started;
    return true;
}

bool BlockRecordJob::stop()
{
    if (thread.isRunning()) {
        stopRequest.stop(thread);
        successful = false;
    }
    return true;
}

void BlockRecordJob::stopAndAwaitEnd()
{
    stopRequest.stopAndAwaitEnd(thread);
    successful = false;
}

bool BlockRecordJob::isSuccessful() const
{
    return successful;
}

void BlockRecordJob::run(Step& step, const Emitters& emitters)
{
    stopRequest.beginJob();
    successful = false;
    QLOG_INFO() << lines.runSourceName << sourceFileName.c_str();
    QLOG_INFO() << lines.runDestName << destFileName.c_str();
    if (sourceFileName.empty() || destFileName.empty()) {
        emitFailed(emitters, InvalidParameter);
        return;
    }

    QFile source(QString::fromUtf8(sourceFileName.c_str()));
    if (!source.open(QIODevice::ReadOnly)) {
        QLOG_INFO() << lines.openSourceFailed;
        emitFailed(emitters, OpenSourceFailed);
        return;
    }
    QFile dest(QString::fromUtf8(destFileName.c_str()));
    if (isSourceFile(source, dest) || !dest.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        source.close();
        QLOG_INFO() << lines.openDestFailed;
        emitFailed(emitters, OpenDestFailed);
        return;
    }

    const qint64 total = source.size();
    qint64 consumed = 0;
    // Converted once: a progress signal follows every record.
    const QString sourceName = latin1(sourceFileName);
    const QString destName = latin1(destFileName);
    while (!step.atEnd(source)) {
        if (stopRequest.isRequested()) {
            endStopped(source, dest);
            return;
        }
        const Records records = step.next(source, dest);
        // Written before they are reported: a stop that returns during the
        // report leaves nothing for the close to write.
        const bool flushed = dest.flush();
        stopRequest.emitEachUnlessRequested(records.count, [&](int i) {
            consumed += records.consumed[i];
            emitters.progress(sourceName, destName, consumed, total);
        });
        if (records.failureLine || !flushed) {
            failRecord(source, dest, records.failureLine ? records.failureLine : lines.flushFailed, emitters);
            return;
        }
    }
    source.close();
    dest.close();
    stopRequest.emitLastUnlessRequested([&] {
        successful = true;
        QLOG_INFO() << lines.finished;
        emitters.finished(sourceName, destName);
    });
}

void BlockRecordJob::emitFailed(const Emitters& emitters, Failure failure)
{
    stopRequest.emitLastUnlessRequested(
        [&] { emitters.failed(latin1(sourceFileName), latin1(destFileName), failure); });
}

void BlockRecordJob::failRecord(QFile& source, QFile& dest, const char* logLine, const Emitters& emitters)
{
    source.close();
    dest.close();
    // A stop that returned during the last report has left the destination
    // to its caller.
    if (!stopRequest.isRequested())
        QFile::remove(QString::fromUtf8(destFileName.c_str()));
    QLOG_INFO() << logLine;
    emitFailed(emitters, RecordFailed);
}

void BlockRecordJob::endStopped(QFile& source, QFile& dest)
{
    source.close();
    dest.close();
    QLOG_INFO() << lines.stopped;
}

} // namespace Nimbrel
