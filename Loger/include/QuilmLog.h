#pragma once

#include <QDebug>
#include <QSharedPointer>
#include <QString>
#include <QStringView>

namespace QuilmLogging {

enum Level : int { Trace = 0, Debug, Info, Warn, Error, Fatal, Off };

class Destination;
class LoggerImpl;
class StatementStream;

// Process-wide logger: statements are formatted on the caller's thread and
// written by one writer thread to every destination in the order they were added.
class Logger
{
public:
    static Logger& instance();
    static void destroyInstance();

    static Level levelFromLogMessage(const QString& logMessage, bool* conversionSucceeded = nullptr);

    ~Logger();

    void addDestination(QSharedPointer<Destination> destination);
    void setLoggingLevel(Level newLevel);
    Level loggingLevel() const;
    void setIncludeTimestamp(bool e);
    bool includeTimestamp() const;
    void setIncludeLogLevel(bool l);
    bool includeLogLevel() const;

    // The line object of one statement; the line is queued when it is destroyed.
    class Helper
    {
    public:
        explicit Helper(Level logLevel);
        ~Helper();
        QDebug& stream() { return debugStream; }

        // It may hold the thread's stream, which only one statement may release.
        Helper(const Helper&) = delete;
        Helper& operator=(const Helper&) = delete;

    private:
        void writeToLog();

        Level level;
        // The thread's reusable stream when it was free, else this
        // statement's own buffer and stream.
        StatementStream* shared;
        QString buffer;
        QDebug debugStream;
    };

private:
    friend class LogWriterThread;

    Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void enqueueWrite(QStringView prefix, QStringView message, Level level);
    void write(const QString& message, Level level);

    LoggerImpl* d;
};

} // namespace QuilmLogging

// The threshold is tested first, so a skipped statement evaluates none of its items.
#define QLOG_AT_LEVEL(level) \
    if (QuilmLogging::Logger::instance().loggingLevel() > (level)) { \
    } else \
        QuilmLogging::Logger::Helper(level).stream()

#define QLOG_TRACE() QLOG_AT_LEVEL(QuilmLogging::Trace)
#define QLOG_DEBUG() QLOG_AT_LEVEL(QuilmLogging::Debug)
#define QLOG_INFO() QLOG_AT_LEVEL(QuilmLogging::Info)
#define QLOG_WARN() QLOG_AT_LEVEL(QuilmLogging::Warn)
#define QLOG_ERROR() QLOG_AT_LEVEL(QuilmLogging::Error)
#define QLOG_FATAL() QLOG_AT_LEVEL(QuilmLogging::Fatal)
