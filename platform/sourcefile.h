// Sources opened for reading: regular files only, and never a wait on a FIFO that has no writer,
// so that a stray FIFO or device in the queue cannot hang a job or the window that inspects it.
// No Qt, so that tompg and sonivert-decode share it.
#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Opens a source for reading: its descriptor, with st filled in, or -1 with errno set when it
// cannot be opened or is not a regular file (a directory, a FIFO, a device). A FIFO without a
// writer is refused, never waited for.
int OpenSourceDescriptor(const char* path, struct stat& st);
// Opens a source for reading as a byte stream. Null, with errno set, when it cannot be opened or
// is not a regular file (a directory, a FIFO, a device): a FIFO without a writer never blocks.
FILE* OpenSourceFile(const char* path);
// Reads up to n bytes at offset of an opened source: the bytes read, fewer at the end of the file,
// 0 on a read error.
size_t ReadSourceAt(int fd, uint64_t offset, void* buffer, size_t n);
// Closes a source's descriptor.
void CloseSourceDescriptor(int fd);
