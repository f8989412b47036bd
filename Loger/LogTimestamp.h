#pragma once

class QString;

namespace QuilmLogging {

// Appends the current local time as "yyyy-MM-ddThh:mm:ss.zzz". The text up to
// the seconds is formatted once per second and thread, so a change of the
// time zone shows from the next second on.
void appendTimestamp(QString& line);

} // namespace QuilmLogging
