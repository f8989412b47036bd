#include "OssFielConfig.h"

namespace Nimbrel {

OssFielConfig::OssFielConfig()
    : QObject(nullptr)
{
}

} // namespace Nimbrel
