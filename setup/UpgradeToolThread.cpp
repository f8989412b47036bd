#include "UpgradeToolThread.h"

#include <QMutexLocker>

namespace {

// Every worker that exists; the window hands its worker to deferred deletion only.
struct WorkerList
{
    QMutex mutex;
    QList<UpgradeToolThread*> workers;
};

WorkerList& workerList()
{
    static WorkerList list;
    return list;
}

} // namespace

UpgradeToolThread::UpgradeToolThread()
    : QThread(nullptr)
    // run() sets these again in its first step; they start defined all the same.
    , m_progress(0.0)
    , m_progressTotal(1000.0)
    , m_videoCount(0)
{
    const QMutexLocker lock(&workerList().mutex);
    workerList().workers.append(this);
}

UpgradeToolThread::~UpgradeToolThread()
{
    const QMutexLocker lock(&workerList().mutex);
    workerList().workers.removeOne(this);
}

void UpgradeToolThread::waitForRunningWorkers()
{
    QList<UpgradeToolThread*> workers;
    {
        const QMutexLocker lock(&workerList().mutex);
        workers = workerList().workers;
    }
    // Workers are created and deleted on the GUI thread only, which is the one waiting here.
    for (UpgradeToolThread* worker : std::as_const(workers))
        worker->wait();
}

void UpgradeToolThread::setProgress(double value, bool send)
{
    const QMutexLocker lock(&m_progressMutex);
    m_progress = value;
    if (send)
        emit sendProgress(1000, static_cast<int>(m_progress));
}

void UpgradeToolThread::addProgress(double step)
{
    const QMutexLocker lock(&m_progressMutex);
    m_progress += step;
    emit sendProgress(1000, static_cast<int>(m_progress));
}

void UpgradeToolThread::progressTick(int step)
{
    addProgress(step);
    QThread::msleep(100);
}

void UpgradeToolThread::updateDecodeProgress(int current, int total, const QString& videoPath)
{
    Q_UNUSED(current);
    Q_UNUSED(total);
    Q_UNUSED(videoPath);
    const QMutexLocker lock(&m_progressMutex);
    // More videos can be decoded than were counted (links in the source tree); with
    // nothing counted there is no share to add.
    if (m_videoCount > 0)
        m_progress += 200.0 / static_cast<double>(m_videoCount);
    emit sendProgress(static_cast<int>(m_progressTotal), static_cast<int>(m_progress));
}
