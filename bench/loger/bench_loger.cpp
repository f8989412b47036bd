// Four threads logging Info lines through the logger into a rotating file,
// beside one thread formatting, writing and flushing the same lines to a
// plain file itself. Prints both and their ratio, because absolute figures
// vary a lot between machines.
#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

using namespace QuilmLogging;

namespace {

const int kThreads = 4;
const int kLinesPerThread = 50000;
const int kLines = kThreads * kLinesPerThread;
const int kRounds = 5;
const qint64 kRotateAfter = 524288;
const int kRing = 10;

struct Figures
{
    double linesPerSecond = 0;
    double medianNs = 0;
};

double median(std::vector<qint64>& values)
{
    auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return double(*middle);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Until the last line is on disk: destroyInstance returns once the writer
// thread has written and flushed everything queued.
Figures runLogger(const QString& folder)
{
    Logger::destroyInstance();
    Logger::instance().addDestination(DestinationFactory::MakeFileDestination(
        folder + QStringLiteral("/quilm_lanuch_log.txt"), SizeBasedRotation, MaxSizeBytes(kRotateAfter), MaxOldLogCount(kRing)));

    std::vector<std::vector<qint64>> costs(kThreads, std::vector<qint64>(kLinesPerThread));
    std::atomic<bool> go { false };
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([t, &go, &costs] {
            while (!go.load())
                QThread::yieldCurrentThread();
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < kLinesPerThread; ++i) {
                const qint64 start = clock.nsecsElapsed();
                QLOG_INFO() << "[ Bench ] worker" << t << "wrote line" << i << QStringLiteral("of the benchmark run");
                costs[t][i] = clock.nsecsElapsed() - start;
            }
        }));
        threads.back()->start();
    }

    QElapsedTimer wall;
    wall.start();
    go.store(true);
    for (auto& thread : threads)
        thread->wait();
    Logger::destroyInstance();
    const qint64 elapsed = wall.nsecsElapsed();

    std::vector<qint64> all;
    all.reserve(kLines);
    for (const auto& perThread : costs)
        all.insert(all.end(), perThread.begin(), perThread.end());
    return { kLines * 1e9 / elapsed, median(all) };
}

// The same lines, built the same way, written and flushed by the caller.
Figures runBaseline(const QString& folder)
{
    QFile file(folder + QStringLiteral("/plain.txt"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
        qFatal("cannot open the baseline file");

    const QString format = QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz");
    std::vector<qint64> costs(kLines);
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < kLines; ++n) {
        const qint64 start = clock.nsecsElapsed();
        QString message;
        QDebug(&message) << "[ Bench ] worker" << n % kThreads << "wrote line" << n / kThreads
                         << QStringLiteral("of the benchmark run");
        const QString line = QStringLiteral("INFO  ") + QDateTime::currentDateTime().toString(format)
            + QLatin1Char(' ') + message;
        file.write(line.toLocal8Bit());
        file.write("\n", 1);
        file.flush();
        costs[n] = clock.nsecsElapsed() - start;
    }
    const qint64 elapsed = clock.nsecsElapsed();
    return { kLines * 1e9 / elapsed, median(costs) };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        qFatal("cannot create a temporary folder");

    std::vector<double> loggerRate, loggerCost, baseRate, baseCost;
    for (int round = 0; round < kRounds; ++round) {
        QTemporaryDir loggerFolder(sandbox.filePath(QStringLiteral("logger-XXXXXX")));
        QTemporaryDir baseFolder(sandbox.filePath(QStringLiteral("plain-XXXXXX")));
        const Figures logger = runLogger(loggerFolder.path());
        const Figures base = runBaseline(baseFolder.path());
        loggerRate.push_back(logger.linesPerSecond);
        loggerCost.push_back(logger.medianNs);
        baseRate.push_back(base.linesPerSecond);
        baseCost.push_back(base.medianNs);
    }

    const double rate = median(loggerRate), rateBase = median(baseRate);
    const double cost = median(loggerCost), costBase = median(baseCost);
    std::printf("logger: %d threads x %d Info lines into a rotating file (%lld bytes, ring %d); "
                "baseline: 1 thread formatting, writing and flushing the same lines to a plain file; "
                "median of %d rounds\n",
                kThreads, kLinesPerThread, static_cast<long long>(kRotateAfter), kRing, kRounds);
    std::printf("lines per second until the last line is on disk: logger %.0f, baseline %.0f, ratio %.2f\n",
                rate, rateBase, rate / rateBase);
    std::printf("median cost of one statement to its caller: logger %.0f ns, baseline %.0f ns, ratio %.2f\n",
                cost, costBase, cost / costBase);
    return 0;
}
