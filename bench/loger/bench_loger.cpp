// Four threads logging Info lines through the logger into a rotating file,
// each line written and flushed, beside one thread writing the same lines,
// prepared beforehand, with fprintf + fflush and with nothing but one
// write(2) each: the bound of any writer that flushes every line. Prints the
// rates and their ratios, because absolute figures vary a lot between
// machines, and the goals: a statement well under a microsecond to its
// caller, lines on disk at 0.8 of the write(2) limit or more. Then what the
// figures consist of: the same threads logging at a pace the writer keeps up
// with, one thread as fast as it can and one now and then, what waking a
// sleeping thread costs by itself, and the statement's items streamed into a
// bare QDebug with and without its numbers.
#include "QuilmLog.h"
#include "QuilmLogDest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace QuilmLogging;

namespace {

const int kThreads = 4;
const int kLinesPerThread = 50000;
const int kLines = kThreads * kLinesPerThread;
const int kRounds = 5;
const qint64 kRotateAfter = 524288;
const int kRing = 10;
// Four threads at one statement per 25 us: a third of what the writer writes.
const qint64 kSteadyIntervalNs = 25000;
const int kSteadyLinesPerThread = 20000;
// One thread at one statement per millisecond: the writer sleeps between them.
const qint64 kSparseIntervalNs = 1000000;
const int kSparseLines = 300;

struct Figures
{
    double linesPerSecond = 0;
    double medianNs = 0;
    double meanNs = 0;
    double faultsPerThousand = 0;
};

// What the statements of one round cost their threads.
struct Costs
{
    std::vector<qint64> ns;
    // Page faults the logging threads took: first touches of fresh memory.
    long faults = 0;
};

// Lines per second and the statement costs of one round.
Figures figures(Costs& costs, qint64 elapsedNs)
{
    std::vector<qint64>& ns = costs.ns;
    auto middle = ns.begin() + ns.size() / 2;
    std::nth_element(ns.begin(), middle, ns.end());
    const double total = std::accumulate(ns.begin(), ns.end(), 0.0);
    return {ns.size() * 1e9 / elapsedNs, double(*middle), total / ns.size(), costs.faults * 1000.0 / ns.size()};
}

long threadFaults()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Calls statement(thread, i) `lines` times on each of threadCount threads
// started together, call i no earlier than i * intervalNs after the start;
// the cost of every call.
Costs timeOnThreads(int threadCount, const std::function<void(int, int)>& statement, int lines = kLinesPerThread,
                    qint64 intervalNs = 0)
{
    std::vector<std::vector<qint64>> costs(threadCount, std::vector<qint64>(lines));
    std::atomic<long> faults{0};
    std::atomic<bool> go{false};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([=, &go, &costs, &faults, &statement] {
            while (!go.load())
                QThread::yieldCurrentThread();
            const long faultsBefore = threadFaults();
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < lines; ++i) {
                while (clock.nsecsElapsed() < i * intervalNs) {}
                const qint64 start = clock.nsecsElapsed();
                statement(t, i);
                costs[t][i] = clock.nsecsElapsed() - start;
            }
            faults += threadFaults() - faultsBefore;
        }));
        threads.back()->start();
    }
    go.store(true);
    for (auto& thread : threads)
        thread->wait();

    Costs all;
    all.ns.reserve(threadCount * lines);
    for (const auto& perThread : costs)
        all.ns.insert(all.ns.end(), perThread.begin(), perThread.end());
    all.faults = faults.load();
    return all;
}

void logLine(int t, int i)
{
    QLOG_INFO() << "[ Bench ] worker" << t << "wrote line" << i << QStringLiteral("of the benchmark run");
}

// Until the last line is on disk: destroyInstance returns once the writer
// thread has written and flushed everything queued.
Figures runLogger(const QString& folder, int threadCount, int lines = kLinesPerThread, qint64 intervalNs = 0)
{
    Logger::destroyInstance();
    Logger::instance().addDestination(
        DestinationFactory::MakeFileDestination(folder + QStringLiteral("/quilm_lanuch_log.txt"), SizeBasedRotation,
                                                MaxSizeBytes(kRotateAfter), MaxOldLogCount(kRing)));
    QElapsedTimer wall;
    wall.start();
    Costs costs = timeOnThreads(threadCount, logLine, lines, intervalNs);
    Logger::destroyInstance();
    return figures(costs, wall.nsecsElapsed());
}

// The statement's items alone, each thread into a QDebug of its own: what
// Qt's debug stream costs here, without the logger. With `numbersAsText`
// the two numbers go in as character strings of the same digits.
Figures runStreamAlone(int threadCount, bool numbersAsText)
{
    Costs costs = timeOnThreads(threadCount, [numbersAsText](int t, int i) {
        thread_local QString text;
        thread_local QDebug stream(&text);
        thread_local QByteArray threadNumber, lineNumber;
        if (numbersAsText) {
            threadNumber.setNum(t);
            lineNumber.setNum(i);
            stream << "[ Bench ] worker" << threadNumber.constData() << "wrote line" << lineNumber.constData()
                   << QStringLiteral("of the benchmark run");
        } else {
            stream << "[ Bench ] worker" << t << "wrote line" << i << QStringLiteral("of the benchmark run");
        }
        text.truncate(0);
    });
    return figures(costs, 1);
}

// What a statement that finds the writer asleep pays at least: one wake-up of
// a thread that slept for kSparseIntervalNs.
Figures runWakeAlone()
{
    QSemaphore wakeUps, done;
    std::unique_ptr<QThread> sleeper(QThread::create([&] {
        for (int i = 0; i < kSparseLines; ++i) {
            wakeUps.acquire();
            done.release();
        }
    }));
    sleeper->start();
    Costs costs;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kSparseLines; ++i) {
        const qint64 due = clock.nsecsElapsed() + kSparseIntervalNs;
        while (clock.nsecsElapsed() < due) {}
        const qint64 start = clock.nsecsElapsed();
        wakeUps.release();
        costs.ns.push_back(clock.nsecsElapsed() - start);
        done.acquire();
    }
    sleeper->wait();
    return figures(costs, 1);
}

// The lines the logger writes for logLine, laid out as it lays them out, made
// before any clock starts: the baselines measure the output alone.
std::vector<QByteArray> preparedLines()
{
    const QString format = QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz");
    std::vector<QByteArray> lines;
    lines.reserve(kLines);
    for (int n = 0; n < kLines; ++n) {
        QString message;
        QDebug(&message) << "[ Bench ] worker" << n % kThreads << "wrote line" << n / kThreads
                         << QStringLiteral("of the benchmark run");
        lines.push_back((QStringLiteral("INFO  ") + QDateTime::currentDateTime().toString(format) + QLatin1Char(' ')
                         + message + QLatin1Char('\n'))
                            .toUtf8());
    }
    return lines;
}

// Times writeLine on every prepared line, one after another on this thread.
template <typename WriteLine>
Figures timeEachLine(const std::vector<QByteArray>& lines, WriteLine writeLine)
{
    Costs costs;
    costs.ns.resize(lines.size());
    QElapsedTimer clock;
    clock.start();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const qint64 start = clock.nsecsElapsed();
        writeLine(lines[n]);
        costs.ns[n] = clock.nsecsElapsed() - start;
    }
    return figures(costs, clock.nsecsElapsed());
}

// One thread writing the prepared lines through stdio, each flushed at once:
// what a plain writer of the same lines does.
Figures runStdio(const QString& folder, const std::vector<QByteArray>& lines)
{
    FILE* file = std::fopen(QFile::encodeName(folder + QStringLiteral("/stdio.txt")).constData(), "w");
    if (!file)
        qFatal("cannot open the stdio baseline file");
    const Figures result = timeEachLine(lines, [file](const QByteArray& line) {
        std::fprintf(file, "%s", line.constData());
        std::fflush(file);
    });
    std::fclose(file);
    return result;
}

// One thread doing nothing but one write(2) per prepared line: the bound of
// any writer that flushes every line.
Figures runWriteLimit(const QString& folder, const std::vector<QByteArray>& lines)
{
    const int fd = ::open(QFile::encodeName(folder + QStringLiteral("/write.txt")).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        qFatal("cannot open the write(2) baseline file");
    const Figures result = timeEachLine(lines, [fd](const QByteArray& line) {
        if (::write(fd, line.constData(), std::size_t(line.size())) != line.size())
            qFatal("the write(2) baseline could not write");
    });
    ::close(fd);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        qFatal("cannot create a temporary folder");

    const std::vector<QByteArray> lines = preparedLines();
    std::vector<Figures> logger, stdio, limit, steady, single, sparse, wake, stream, streamOne, streamTextNumbers;
    for (int round = 0; round < kRounds; ++round) {
        QTemporaryDir loggerFolder(sandbox.filePath(QStringLiteral("logger-XXXXXX")));
        QTemporaryDir steadyFolder(sandbox.filePath(QStringLiteral("steady-XXXXXX")));
        QTemporaryDir singleFolder(sandbox.filePath(QStringLiteral("single-XXXXXX")));
        QTemporaryDir sparseFolder(sandbox.filePath(QStringLiteral("sparse-XXXXXX")));
        QTemporaryDir baseFolder(sandbox.filePath(QStringLiteral("plain-XXXXXX")));
        logger.push_back(runLogger(loggerFolder.path(), kThreads));
        stdio.push_back(runStdio(baseFolder.path(), lines));
        limit.push_back(runWriteLimit(baseFolder.path(), lines));
        steady.push_back(runLogger(steadyFolder.path(), kThreads, kSteadyLinesPerThread, kSteadyIntervalNs));
        single.push_back(runLogger(singleFolder.path(), 1));
        sparse.push_back(runLogger(sparseFolder.path(), 1, kSparseLines, kSparseIntervalNs));
        wake.push_back(runWakeAlone());
        stream.push_back(runStreamAlone(kThreads, false));
        streamOne.push_back(runStreamAlone(1, false));
        streamTextNumbers.push_back(runStreamAlone(kThreads, true));
    }

    const auto medianOf = [](const std::vector<Figures>& rounds, double Figures::*field) {
        std::vector<double> values;
        for (const Figures& figures : rounds)
            values.push_back(figures.*field);
        return median(values);
    };
    const auto costs = [&medianOf](const char* what, const std::vector<Figures>& rounds) {
        std::printf("%s: median %.0f ns, mean %.0f ns, %.1f page faults per 1000 statements\n", what,
                    medianOf(rounds, &Figures::medianNs), medianOf(rounds, &Figures::meanNs),
                    medianOf(rounds, &Figures::faultsPerThousand));
    };
    const double rate = medianOf(logger, &Figures::linesPerSecond);
    const double rateStdio = medianOf(stdio, &Figures::linesPerSecond);
    const double rateLimit = medianOf(limit, &Figures::linesPerSecond);
    std::printf("logger: %d threads x %d Info lines into a rotating file (%lld bytes, ring %d), each line written "
                "and flushed; baselines: 1 thread writing the same lines, prepared beforehand, with fprintf + fflush, "
                "and with one write(2) each (the limit); median of %d rounds\n",
                kThreads, kLinesPerThread, static_cast<long long>(kRotateAfter), kRing, kRounds);
    std::printf("lines per second until the last line is on disk: logger %.0f, fprintf + fflush %.0f, write(2) %.0f\n",
                rate, rateStdio, rateLimit);
    std::printf("logger / fprintf + fflush: %.2f\n", rate / rateStdio);
    std::printf("logger / write(2) limit: %.2f (goal >= 0.80)\n", rate / rateLimit);
    std::printf("median cost of one statement to its caller: logger %.0f ns (goal: well under 1000 ns, aim 300-500); "
                "one write(2) %.0f ns\n",
                medianOf(logger, &Figures::medianNs), medianOf(limit, &Figures::medianNs));
    std::printf("mean cost of one statement to its caller: logger %.0f ns\n", medianOf(logger, &Figures::meanNs));
    std::printf("page faults per 1000 statements in the logging threads: %.1f (the queue outgrows the writer, "
                "its lines need fresh memory)\n",
                medianOf(logger, &Figures::faultsPerThousand));
    costs("the same statement, 4 threads at one per 25 us each, a pace the writer keeps up with", steady);
    costs("the same statement, 1 thread logging", single);
    costs("the same statement, 1 thread at one per millisecond, each waking the writer", sparse);
    std::printf("waking a thread asleep as long, alone (QSemaphore::release): median %.0f ns, mean %.0f ns\n",
                medianOf(wake, &Figures::medianNs), medianOf(wake, &Figures::meanNs));
    costs("its items alone into a QDebug per thread, 4 threads, no logger", stream);
    costs("its items alone into a QDebug, 1 thread, no logger", streamOne);
    costs("its items alone into a QDebug per thread, 4 threads, the two numbers as character strings",
          streamTextNumbers);
    return 0;
}
