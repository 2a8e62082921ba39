// Reads that survive signals (SIGSTOP/SIGCONT, SIGCHLD) and short transfers; writes are
// WriteAll of platform/writeall.h.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads up to size bytes at offset; returns the count read (less only at the end of the file),
// or -1 on an error.
long ReadAt(int fd, void* buffer, size_t size, uint64_t offset);
