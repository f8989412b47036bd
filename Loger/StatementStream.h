#pragma once

#include <QDebug>
#include <QString>

namespace QuilmLogging {

// The text a log statement streams into and the QDebug on it, one pair per
// thread, reused statement after statement: setting up a QDebug costs more
// than most statements (its text stream brings a QObject and a QLocale of
// its own), and the text keeps its capacity.
class StatementStream
{
public:
    StatementStream();
    ~StatementStream();

    // This thread's pair, or null while another statement of this thread
    // holds it (a statement among the items of another one) and once the
    // thread is ending.
    static StatementStream* claim();

    // A stream on the empty message, with QDebug's default settings.
    QDebug stream();
    QString& message() { return text; }
    // Room for the level text and the timestamp of the line.
    QString& prefix() { return lineStart; }
    // Empties both texts and frees the pair for the next statement.
    void release();

private:
    QString text;
    QString lineStart;
    QDebug debug;
    bool claimed = false;
};

} // namespace QuilmLogging
