#include "QuilmLog.h"
#include "LogTimestamp.h"
#include "LogWriterThread.h"
#include "QuilmLogDest.h"
#include "StatementStream.h"

#include <QAtomicInteger>
#include <QAtomicPointer>
#include <QList>
#include <QMutex>

#include <utility>

namespace QuilmLogging {

static const char TraceString[6] = "TRACE";
static const char DebugString[6] = "DEBUG";
static const char InfoString[6] = "INFO ";
static const char WarnString[6] = "WARN ";
static const char ErrorString[6] = "ERROR";
static const char FatalString[6] = "FATAL";

static QAtomicPointer<Logger> sInstance;
// Guards creation and destruction only; statements read sInstance without it.
static QBasicMutex sInstanceMutex;

static const char* LevelToText(Level theLevel)
{
    switch (theLevel) {
    case Trace: return TraceString;
    case Debug: return DebugString;
    case Info: return InfoString;
    case Warn: return WarnString;
    case Error: return ErrorString;
    case Fatal: return FatalString;
    case Off: return "";
    }
    return InfoString;
}

class LoggerImpl
{
public:
    explicit LoggerImpl(Logger& logger)
        : writer(logger)
        , threshold(Info)
        , withTimestamp(true)
        , withLevelText(true)
    {
        destinations.reserve(2);
    }

    LogWriterThread writer;
    QMutex logMutex;
    // The threshold and the two flags are read by every statement without the
    // mutex, so they are atomic. They lie on a cache line of their own: the
    // writer thread locks the mutex for every line, and sharing its cache
    // line would cost each statement a miss.
    alignas(64) QAtomicInteger<int> threshold;
    QList<DestinationPtr> destinations;
    QAtomicInteger<bool> withTimestamp;
    QAtomicInteger<bool> withLevelText;
};

Destination::~Destination() = default;

Logger::Logger()
    : d(new LoggerImpl(*this))
{
}

Logger::~Logger()
{
    d->writer.drain();
    delete d;
    d = nullptr;
}

Logger& Logger::instance()
{
    Logger* logger = sInstance.loadAcquire();
    if (logger)
        return *logger;

    QMutexLocker lock(&sInstanceMutex);
    logger = sInstance.loadRelaxed();
    if (!logger) {
        logger = new Logger;
        sInstance.storeRelease(logger);
    }
    return *logger;
}

void Logger::destroyInstance()
{
    QMutexLocker lock(&sInstanceMutex);
    // The pointer stays set while the destructor drains the queue, so that a
    // destination that logs reaches this logger, not a new one.
    delete sInstance.loadRelaxed();
    sInstance.storeRelease(nullptr);
}

Level Logger::levelFromLogMessage(const QString& logMessage, bool* conversionSucceeded)
{
    if (conversionSucceeded)
        *conversionSucceeded = true;

    static const Level levels[] = {Trace, Debug, Info, Warn, Error, Fatal};
    for (Level level : levels) {
        if (logMessage.startsWith(QLatin1String(LevelToText(level))))
            return level;
    }

    if (conversionSucceeded)
        *conversionSucceeded = false;
    return Off;
}

void Logger::addDestination(QSharedPointer<Destination> destination)
{
    if (destination.isNull())
        return;

    QMutexLocker lock(&d->logMutex);
    d->destinations.push_back(destination);
}

void Logger::setLoggingLevel(Level newLevel)
{
    d->threshold.storeRelease(newLevel);
}

Level Logger::loggingLevel() const
{
    return static_cast<Level>(d->threshold.loadAcquire());
}

void Logger::setIncludeTimestamp(bool e)
{
    d->withTimestamp.storeRelease(e);
}

bool Logger::includeTimestamp() const
{
    return d->withTimestamp.loadAcquire();
}

void Logger::setIncludeLogLevel(bool l)
{
    d->withLevelText.storeRelease(l);
}

bool Logger::includeLogLevel() const
{
    return d->withLevelText.loadAcquire();
}

void Logger::enqueueWrite(QStringView prefix, QStringView message, Level level)
{
    d->writer.enqueue(prefix, message, level);
}

void Logger::write(const QString& message, Level level)
{
    QMutexLocker lock(&d->logMutex);
    try {
        for (const DestinationPtr& destination : std::as_const(d->destinations))
            destination->write(message, level);
    } catch (...) {
        // A failing destination costs only this line.
    }
}

Logger::Helper::Helper(Level logLevel)
    : level(logLevel)
    , shared(StatementStream::claim())
    , debugStream(shared ? shared->stream() : QDebug(&buffer))
{
}

Logger::Helper::~Helper()
{
    try {
        writeToLog();
    } catch (...) {
        // Nothing may escape a destructor; the line is dropped.
    }
    if (shared)
        shared->release();
}

void Logger::Helper::writeToLog()
{
    Logger& logger = Logger::instance();

    QString ownPrefix;
    QString& prefix = shared ? shared->prefix() : ownPrefix;
    if (logger.includeLogLevel()) {
        prefix.append(QLatin1String(LevelToText(level)));
        prefix.append(QLatin1Char(' '));
    }
    if (logger.includeTimestamp()) {
        appendTimestamp(prefix);
        prefix.append(QLatin1Char(' '));
    }

    logger.enqueueWrite(prefix, shared ? shared->message() : buffer, level);
}

} // namespace QuilmLogging
