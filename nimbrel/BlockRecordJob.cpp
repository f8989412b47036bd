#include "BlockRecordJob_p.h"

#include "PassWriter.h"
#include "QuilmLog.h"
#include "RecordPass.h"

#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace Nimbrel {

namespace {

// Opened without blocking, so that a named pipe or a device cannot hold the
// job (and a stop waiting for it) in open(); only a regular file is used.
// Unbuffered: a write reports at once how far it got.
bool openRegularFile(QFile& file, int flags, QIODevice::OpenMode mode, struct stat& status)
{
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
        && file.open(fd, mode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

// The open files are compared, not their names: the source under another
// name (a hard or symbolic link, "./", a name swapped in meanwhile) is
// refused before a byte of it is lost. Only then is the destination emptied.
// An empty one is left as it is: on ext4 closing a truncated file starts
// writing its data out, in the job's own time.
bool openDestination(QFile& dest, const struct stat& sourceStatus)
{
    struct stat status;
    if (!openRegularFile(dest, O_WRONLY | O_CREAT, QIODevice::WriteOnly, status))
        return false;
    if (status.st_dev != sourceStatus.st_dev || status.st_ino != sourceStatus.st_ino) {
        if (status.st_size == 0 || ftruncate(dest.handle(), 0) == 0)
            return true;
    }
    dest.close();
    return false;
}

// Makes the job's writer known to its stops while the job runs.
class WriterInUse
{
public:
    WriterInUse(QMutex& mutex, PassWriter*& active, PassWriter& writer)
        : mutex(mutex)
        , active(active)
    {
        QMutexLocker locker(&mutex);
        active = &writer;
    }
    ~WriterInUse()
    {
        QMutexLocker locker(&mutex);
        active = nullptr;
    }
    WriterInUse(const WriterInUse&) = delete;
    WriterInUse& operator=(const WriterInUse&) = delete;

private:
    QMutex& mutex;
    PassWriter*& active;
};

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
        if (!stopRequest.stop(thread))
            awaitWrites();
        successful = false;
    }
    return true;
}

void BlockRecordJob::stopAndAwaitEnd()
{
    stopRequest.stopAndAwaitEnd(thread);
    if (thread.isRunning())
        awaitWrites();
    successful = false;
}

// A stop that returns before the job's thread has ended (from a slot of the
// job's signal) waits for the write in progress; the job starts no other.
void BlockRecordJob::awaitWrites()
{
    QMutexLocker locker(&writerMutex);
    if (activeWriter)
        activeWriter->awaitIdle();
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
    struct stat sourceStatus;
    if (!openRegularFile(source, O_RDONLY, QIODevice::ReadOnly, sourceStatus)) {
        QLOG_INFO() << lines.openSourceFailed;
        emitFailed(emitters, OpenSourceFailed);
        return;
    }
    QFile dest(QString::fromUtf8(destFileName.c_str()));
    if (!openDestination(dest, sourceStatus)) {
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
    PassWriter writer(dest);
    const WriterInUse inUse(writerMutex, activeWriter, writer);
    const auto reportRecords = [&](const RecordPass& pass, int count) {
        stopRequest.emitEachUnlessRequested(count, [&](int i) {
            consumed += pass.consumed[i];
            emitters.progress(sourceName, destName, consumed, total);
        });
    };
    // Waits for the write of `pass`. A short write fails the record it
    // stopped in, once the records it took whole are reported; false then.
    const auto awaitWritten = [&](const RecordPass& pass) {
        const qint64 written = writer.await();
        int whole = 0;
        qint64 wholeBytes = 0;
        while (whole < pass.count && wholeBytes + pass.outputLengths[whole] <= written)
            wholeBytes += pass.outputLengths[whole++];
        if (whole == pass.count)
            return true;
        reportRecords(pass, whole);
        failRecord(source, dest, step.writeFailureLine(static_cast<int>(written - wholeBytes)), emitters);
        return false;
    };

    // A pass is reported once it is written, while the next one is written.
    RecordPass passes[2];
    const RecordPass* handedOver = nullptr;
    for (int slot = 0;; slot ^= 1) {
        if (stopRequest.isRequested()) {
            writer.await();
            endStopped(source, dest);
            return;
        }
        RecordPass* converted = nullptr;
        const char* failureLine = nullptr;
        if (!step.atEnd(source)) {
            converted = &passes[slot];
            failureLine = step.convert(source, *converted);
        }
        if (handedOver && !awaitWritten(*handedOver))
            return;
        if (stopRequest.isRequested()) {
            endStopped(source, dest);
            return;
        }
        if (converted)
            writer.write(converted->bytes.get(), converted->length);
        if (handedOver)
            reportRecords(*handedOver, handedOver->count);
        if (!converted)
            break;
        handedOver = converted;
        if (failureLine) {
            if (awaitWritten(*converted)) {
                reportRecords(*converted, converted->count);
                failRecord(source, dest, failureLine, emitters);
            }
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
