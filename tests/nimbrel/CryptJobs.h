#pragma once

#include "OssFileDecryption.h"
#include "OssFileEncryption.h"

#include <QList>
#include <QPair>
#include <QStringList>

// Runs crypt jobs and gathers what they report.
namespace CryptJobs {

using ProgressList = QList<QPair<qint64, qint64>>;

// What one job reported, gathered on the worker thread.
struct JobOutcome
{
    ProgressList progress;
    int finished = 0;
    QList<int> failedCodes;
    QStringList names;
    bool successful = false;
};

// Connects directly, so the outcome is complete once the thread has ended.
void observe(Nimbrel::OssFileEncryption& worker, JobOutcome& outcome);
void observe(Nimbrel::OssFileDecryption& worker, JobOutcome& outcome);
bool start(Nimbrel::OssFileEncryption& worker, const QString& source, const QString& dest);
bool start(Nimbrel::OssFileDecryption& worker, const QString& source, const QString& dest);
bool stop(Nimbrel::OssFileEncryption& worker);
bool stop(Nimbrel::OssFileDecryption& worker);

template <typename Worker>
JobOutcome runJob(const QString& source, const QString& dest)
{
    Worker worker;
    JobOutcome outcome;
    observe(worker, outcome);
    if (!start(worker, source, dest))
        return outcome;
    worker.wait();
    outcome.successful = worker.isSuccessful();
    return outcome;
}

} // namespace CryptJobs
