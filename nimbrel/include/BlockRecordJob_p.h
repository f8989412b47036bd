#pragma once

#include "StopRequest_p.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <functional>
#include <string>

class QFile;
class QThread;

namespace Nimbrel {

class PassWriter;
struct RecordPass;

// The job flow the two crypt workers share: start and stop of the worker's
// thread, and a run that moves the source into the destination many records
// at a time, reporting progress record by record. A pass of records is
// written while the next one is read and converted, and reported while the
// next one is written. What a record is, the log lines and the signals are
// the worker's.
class BlockRecordJob
{
public:
    // The same values as each crypt worker's OssErrorCode, which the worker
    // casts them to.
    enum Failure { RecordFailed = 4, OpenSourceFailed = 6, OpenDestFailed = 7, InvalidParameter = 8 };

    // The worker's log lines; the file names follow the four "...Name" lines.
    struct LogLines
    {
        const char* startSourceName;
        const char* startDestName;
        const char* startWhileRunning;
        const char* started;
        const char* runSourceName;
        const char* runDestName;
        const char* openSourceFailed;
        const char* openDestFailed;
        const char* stopped;
        const char* finished;
    };

    // Reads the source and converts it, one pass of records at a time.
    class Step
    {
    public:
        virtual ~Step();
        // True once every source byte has been converted.
        virtual bool atEnd(QFile& source) const = 0;
        // The next records into `pass`; the log line of a read or a record
        // that failed after them, or null.
        virtual const char* convert(QFile& source, RecordPass& pass) = 0;
        // The log line of a write that stopped `offset` bytes into a record.
        virtual const char* writeFailureLine(int offset) const = 0;
    };

    // Called on the job's thread, never after a stop request has returned.
    struct Emitters
    {
        std::function<void(const QString& source, const QString& dest, qint64 consumed, qint64 total)> progress;
        std::function<void(const QString& source, const QString& dest)> finished;
        std::function<void(const QString& source, const QString& dest, Failure failure)> failed;
    };

    BlockRecordJob(QThread& thread, const LogLines& lines);

    bool start(const std::string& sourceFileName, const std::string& destFileName);
    // Ends a running job after its current pass and returns once it has
    // ended, or soon, without waiting, from a slot of the job's own signal;
    // no signal and no write or removal of the destination follows.
    bool stop();
    bool isSuccessful() const;
    // For the worker's destructor: returns once the thread has ended.
    void stopAndAwaitEnd();

    // The body of the worker's run(), on the job's thread.
    void run(Step& step, const Emitters& emitters);

private:
    void emitFailed(const Emitters& emitters, Failure failure);
    void failRecord(QFile& source, QFile& dest, const char* logLine, const Emitters& emitters);
    void endStopped(QFile& source, QFile& dest);
    void awaitWrites();

    QThread& thread;
    const LogLines lines;
    std::string sourceFileName;
    std::string destFileName;
    std::atomic<bool> successful{false};
    StopRequest stopRequest;
    QMutex writerMutex;
    PassWriter* activeWriter = nullptr;
};

} // namespace Nimbrel
