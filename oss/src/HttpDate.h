#pragma once

#include <ctime>
#include <string>

namespace AlibabaCloud {
namespace OSS {
namespace HttpDate {

// "Wed, 28 May 2025 08:00:00 GMT", independent of the process locale.
std::string format(std::time_t time);
// "2019-03-30T13:18:53.000Z" → seconds since the epoch; -1 when unreadable.
std::time_t parseIso8601(const std::string& text);

} // namespace HttpDate
} // namespace OSS
} // namespace AlibabaCloud
