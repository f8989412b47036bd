#pragma once

// The subset of macOS libproc that Salvix Setup uses, over Linux /proc.

#include <cstdint>

// Writes up to buffersize / sizeof(int) process ids into buffer and returns how many
// were written; with a null buffer returns the number of processes. -1 on failure.
int proc_listallpids(void* buffer, int buffersize);

// Writes the NUL-terminated executable path of pid into buffer and returns its length,
// or 0 when the path cannot be read or does not fit.
int proc_pidpath(int pid, void* buffer, uint32_t buffersize);

#define PROC_PIDPATHINFO_MAXSIZE 4096
