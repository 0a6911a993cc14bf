// Reading and writing files: the one read loop and the one write loop of
// the tool, and the load of a whole file.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Reads from offset on until size bytes are in or the file ends: the count
// read, or -1 with errno set. A read interrupted by a signal is retried, and
// one that the file system refuses for direct I/O (EINVAL) is retried once
// with the flag cleared.
[[nodiscard]] ssize_t read_full(
    int fd, char *buf, std::size_t size, off_t offset);

// Writes all size bytes at offset, retried as read_full retries: 0, or -1
// with errno set (ENOSPC when the system took no byte without saying why).
[[nodiscard]] int write_full(
    int fd, const char *buf, std::size_t size, off_t offset);

// The regular file open on fd, path as messages name it, read whole into
// one allocated, NUL-terminated text (freed with free()), its length in
// *size when size is not null. Null after reporting why: a directory, a
// file of 4 GiB or more, no memory, a failed read, or a file that changed
// size while it was read. fd stays open.
[[nodiscard]] char *load_open_file(int fd, const char *path, std::size_t *size);
