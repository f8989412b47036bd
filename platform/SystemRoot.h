#pragma once

#include <QString>

// Fixed system paths ("/Applications", "/tmp") are placed under the root prefix taken
// from the environment variable SALVIX_ROOT, so tests and the demo run in a sandbox.
// Unset or empty, the real paths are used.
QString systemRootPath(const QString& fixedPath);
