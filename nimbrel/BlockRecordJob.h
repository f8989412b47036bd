#pragma once

#include "StopRequest.h"

#include <QString>

#include <atomic>
#include <functional>
#include <string>

class QFile;
class QThread;

namespace Nimbrel {

// The job flow the two crypt workers share: start and stop of the worker's
// thread, and a run that moves the source into the destination one record at
// a time. What a record is, the log lines and the signals are the worker's.
class BlockRecordJob
{
public:
    // The same values as each crypt worker's OssErrorCode, which the worker
    // casts them to.
    enum Failure { RecordFailed = 4, OpenSourceFailed = 6, OpenDestFailed = 7, InvalidParameter = 8 };

    // The worker's log lines; the file names follow the four "...Name" lines.
    struct LogLines {
        const char* startSourceName;
        const char* startDestName;
        const char* startWhileRunning;
        const char* started;
        const char* runSourceName;
        const char* runDestName;
        const char* openSourceFailed;
        const char* openDestFailed;
        const char* flushFailed;
        const char* stopped;
        const char* finished;
    };

    struct RecordOutcome {
        const char* failureLine; // null when the record went through
        int consumed;            // the source bytes the record stands for
    };
    using RecordStep = std::function<RecordOutcome(QFile& source, QFile& dest)>;

    // Called on the job's thread, never after a stop request has returned.
    struct Emitters {
        std::function<void(const QString& source, const QString& dest, qint64 consumed, qint64 total)> progress;
        std::function<void(const QString& source, const QString& dest)> finished;
        std::function<void(const QString& source, const QString& dest, Failure failure)> failed;
    };

    BlockRecordJob(QThread& thread, const LogLines& lines);

    bool start(const std::string& sourceFileName, const std::string& destFileName);
    // Ends a running job after its current record and returns once it has ended.
    bool stop();
    bool isSuccessful() const;

    // The body of the worker's run(), on the job's thread.
    void run(const RecordStep& step, const Emitters& emitters);

private:
    void emitFailed(const Emitters& emitters, Failure failure);
    void failRecord(QFile& source, QFile& dest, const char* logLine, const Emitters& emitters);
    void endStopped(QFile& source, QFile& dest);

    QThread& thread;
    const LogLines lines;
    std::string sourceFileName;
    std::string destFileName;
    std::atomic<bool> successful{false};
    StopRequest stopRequest;
};

}
