// Writes that survive signals and short transfers: a program stopped and continued (the pause of
// a job), or a terminal or pipe that takes part of a write, must not lose or repeat bytes.
#pragma once
#include <cstddef>

// Writes all `size` bytes, resuming after signals and short writes; false on an error (errno
// tells which).
bool WriteAll(int fd, const void* data, size_t size);
