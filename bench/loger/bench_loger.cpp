// Four threads logging Info lines through the logger into a rotating file,
// beside one thread formatting, writing and flushing the same lines to a
// plain file itself. Prints both and their ratio, because absolute figures
// vary a lot between machines, and the goals: a statement well under a
// microsecond to its caller, lines on disk at least twice as fast as the
// baseline.
#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <numeric>
#include <atomic>
#include <cstdio>
#include <functional>
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
    double meanNs = 0;
};

// Lines per second and the statement costs of one round.
Figures figures(std::vector<qint64>& costs, qint64 elapsedNs)
{
    auto middle = costs.begin() + costs.size() / 2;
    std::nth_element(costs.begin(), middle, costs.end());
    const double total = std::accumulate(costs.begin(), costs.end(), 0.0);
    return { costs.size() * 1e9 / elapsedNs, double(*middle), total / costs.size() };
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Calls statement(thread, i) kLinesPerThread times on each of threadCount
// threads started together; the cost of every call.
std::vector<qint64> timeOnThreads(int threadCount, const std::function<void(int, int)>& statement)
{
    std::vector<std::vector<qint64>> costs(threadCount, std::vector<qint64>(kLinesPerThread));
    std::atomic<bool> go { false };
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t, &go, &costs, &statement] {
            while (!go.load())
                QThread::yieldCurrentThread();
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < kLinesPerThread; ++i) {
                const qint64 start = clock.nsecsElapsed();
                statement(t, i);
                costs[t][i] = clock.nsecsElapsed() - start;
            }
        }));
        threads.back()->start();
    }
    go.store(true);
    for (auto& thread : threads)
        thread->wait();

    std::vector<qint64> all;
    all.reserve(threadCount * kLinesPerThread);
    for (const auto& perThread : costs)
        all.insert(all.end(), perThread.begin(), perThread.end());
    return all;
}

void logLine(int t, int i)
{
    QLOG_INFO() << "[ Bench ] worker" << t << "wrote line" << i << QStringLiteral("of the benchmark run");
}

// Until the last line is on disk: destroyInstance returns once the writer
// thread has written and flushed everything queued.
Figures runLogger(const QString& folder, int threadCount)
{
    Logger::destroyInstance();
    Logger::instance().addDestination(DestinationFactory::MakeFileDestination(
        folder + QStringLiteral("/quilm_lanuch_log.txt"), SizeBasedRotation, MaxSizeBytes(kRotateAfter), MaxOldLogCount(kRing)));
    QElapsedTimer wall;
    wall.start();
    std::vector<qint64> costs = timeOnThreads(threadCount, logLine);
    Logger::destroyInstance();
    return figures(costs, wall.nsecsElapsed());
}

// The statement's items alone, each thread into a QDebug of its own: what
// Qt's debug stream costs here, without the logger.
Figures runStreamAlone()
{
    std::vector<qint64> costs = timeOnThreads(kThreads, [](int t, int i) {
        thread_local QString text;
        thread_local QDebug stream(&text);
        stream << "[ Bench ] worker" << t << "wrote line" << i << QStringLiteral("of the benchmark run");
        text.truncate(0);
    });
    return figures(costs, 1);
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
    return figures(costs, clock.nsecsElapsed());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        qFatal("cannot create a temporary folder");

    std::vector<Figures> logger, base, single, stream;
    for (int round = 0; round < kRounds; ++round) {
        QTemporaryDir loggerFolder(sandbox.filePath(QStringLiteral("logger-XXXXXX")));
        QTemporaryDir singleFolder(sandbox.filePath(QStringLiteral("single-XXXXXX")));
        QTemporaryDir baseFolder(sandbox.filePath(QStringLiteral("plain-XXXXXX")));
        logger.push_back(runLogger(loggerFolder.path(), kThreads));
        base.push_back(runBaseline(baseFolder.path()));
        single.push_back(runLogger(singleFolder.path(), 1));
        stream.push_back(runStreamAlone());
    }

    const auto medianOf = [](const std::vector<Figures>& rounds, double Figures::*field) {
        std::vector<double> values;
        for (const Figures& figures : rounds)
            values.push_back(figures.*field);
        return median(values);
    };
    const double rate = medianOf(logger, &Figures::linesPerSecond), rateBase = medianOf(base, &Figures::linesPerSecond);
    const double cost = medianOf(logger, &Figures::medianNs), costBase = medianOf(base, &Figures::medianNs);
    const double mean = medianOf(logger, &Figures::meanNs), meanBase = medianOf(base, &Figures::meanNs);
    std::printf("logger: %d threads x %d Info lines into a rotating file (%lld bytes, ring %d); "
                "baseline: 1 thread formatting, writing and flushing the same lines to a plain file; "
                "median of %d rounds\n",
                kThreads, kLinesPerThread, static_cast<long long>(kRotateAfter), kRing, kRounds);
    std::printf("lines per second until the last line is on disk: logger %.0f, baseline %.0f, ratio %.2f "
                "(goal >= 2)\n",
                rate, rateBase, rate / rateBase);
    std::printf("median cost of one statement to its caller: logger %.0f ns, baseline %.0f ns, ratio %.2f "
                "(goal: logger well under 1000 ns, aim 300-500)\n",
                cost, costBase, cost / costBase);
    std::printf("mean cost of one statement to its caller: logger %.0f ns, baseline %.0f ns, ratio %.2f\n", mean,
                meanBase, mean / meanBase);
    std::printf("the same statement, 1 thread logging: median %.0f ns, mean %.0f ns\n",
                medianOf(single, &Figures::medianNs), medianOf(single, &Figures::meanNs));
    std::printf("its items alone into a QDebug per thread, %d threads, no logger: median %.0f ns, mean %.0f ns\n",
                kThreads, medianOf(stream, &Figures::medianNs), medianOf(stream, &Figures::meanNs));
    return 0;
}
