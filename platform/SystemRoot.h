#pragma once

#include <QString>

// Fixed system paths ("/Applications", "/tmp") are placed under the root prefix taken
// from the environment variable SALVIX_ROOT, so tests and the demo run in a sandbox.
// Unset or empty, the real paths are used.
QString systemRootPath(const QString& fixedPath);

// A program started by absolute path ("/usr/bin/sudo", "/usr/bin/osascript"): the one
// under the root prefix when an executable file is there, else the real one. Tests put
// stubs in the sandbox; a run without them uses the system's programs.
QString systemProgramPath(const QString& fixedPath);
