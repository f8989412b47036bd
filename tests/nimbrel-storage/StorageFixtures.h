#pragma once

#include "OssFileDownloader.h"
#include "OssFileUploader.h"
#include "OssFileWork.h"

#include <QByteArray>
#include <QSignalSpy>
#include <QVariant>

class QThread;

// Fixture pieces the storage worker tests share.
namespace StorageFixtures {

// Reproducible content: the same size and seed offset give the same bytes.
QByteArray randomBytes(int size, quint32 seedOffset = 0);

// The progress, finished and failed signals of one worker, recorded on the
// emitting thread.
struct WorkerSpies
{
    template <typename Worker, typename Progress, typename Finished, typename Failed>
    WorkerSpies(Worker& worker, Progress progressSignal, Finished finishedSignal, Failed failedSignal)
        : progress(&worker, progressSignal)
        , finished(&worker, finishedSignal)
        , failed(&worker, failedSignal)
    {
    }
    int ends() const { return finished.count() + failed.count(); }
    QSignalSpy progress;
    QSignalSpy finished;
    QSignalSpy failed;
};

WorkerSpies spiesOf(Nimbrel::OssFileDownloader& worker);
WorkerSpies spiesOf(Nimbrel::OssFileUploader& worker);
WorkerSpies spiesOf(Nimbrel::OssFileWork& worker);

// The code argument of a failed signal, as the worker's type.
template <typename Worker>
typename Worker::OssErrorCode codeOf(const QVariant& value)
{
    return qvariant_cast<typename Worker::OssErrorCode>(value);
}

// Waits for the job's one end signal and its thread, then a little longer:
// a second end signal would show then.
void runToEnd(QThread& worker, const WorkerSpies& spies);

} // namespace StorageFixtures
