#include "LogTimestamp.h"

#include <QDateTime>
#include <QString>

#include <cstring>
#include <limits>

namespace QuilmLogging {

static const QString fmtDateTime(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz"));

namespace {

constexpr int timestampLength = 23;
constexpr int secondsLength = timestampLength - 3;

// Converting to local time is the costly part (the C library looks at the
// time zone each time, under a lock), and it gives the same text for every
// millisecond of a second: offsets from UTC are whole seconds.
struct FormattedSecond
{
    qint64 second = std::numeric_limits<qint64>::min();
    char16_t text[secondsLength] = {};
};

thread_local FormattedSecond current;

} // namespace

void appendTimestamp(QString& line)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 second = now / 1000;
    int millisecond = static_cast<int>(now % 1000);
    if (millisecond < 0) {
        millisecond += 1000;
        --second;
    }

    if (second != current.second) {
        const QString text = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(fmtDateTime);
        // Years beyond four digits make a longer text; they are not cached.
        if (text.size() != timestampLength) {
            line.append(QDateTime::fromMSecsSinceEpoch(now).toString(fmtDateTime));
            return;
        }
        std::memcpy(current.text, text.utf16(), sizeof current.text);
        current.second = second;
    }

    const char16_t digits[3] = {char16_t(u'0' + millisecond / 100), char16_t(u'0' + millisecond / 10 % 10),
                                char16_t(u'0' + millisecond % 10)};
    line.append(QStringView(current.text, secondsLength));
    line.append(QStringView(digits, 3));
}

} // namespace QuilmLogging
