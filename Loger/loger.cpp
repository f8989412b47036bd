#include "loger.h"

#include "QuilmLog.h"

// Binding the reference at load time creates the logger before main runs.
static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

Loger::Loger()
{
}
