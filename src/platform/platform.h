// The few calls that differ between FreeBSD, the tool's home, and Linux,
// where it is built and tested. Every #ifdef that tells systems apart lives
// behind this, and so do the test seams: a build for the tests only
// (QUILLMARK_TEST_SEAMS) lets its environment cause the failures that no
// tree can, each in the call named here:
//   QUILLMARK_TEST_FAIL_CLOSE=ERRNO:SUFFIX  platform_close_output fails the
//                                           close of a path ending in SUFFIX
//   QUILLMARK_TEST_NO_OPENAT2=ERRNO         platform_open_beneath finds no
//                                           openat2 (ENOSYS, or EPERM)
//   QUILLMARK_TEST_FAIL_ALLOC=N             platform_alloc fails the Nth
//                                           allocation of the run (ENOMEM)
//   QUILLMARK_TEST_NOW=SECONDS              platform_now gives this time,
//                                           so that runs can span days
#pragma once

#include <cstddef>

// The longest name of a directory entry, with its NUL, that the walks take.
inline constexpr std::size_t name_buffer_size = 1024;

// Option string for getopt: on every system, options end at the first
// non-option argument, as POSIX and FreeBSD's getopt have it.
extern const char platform_optstring[];

// Readies getopt for a fresh pass over an argument vector.
void platform_reset_getopt();

// Writes the running system's release name (the UNAME_r environment
// variable when set, as FreeBSD's libc honours it, else uname's release)
// into buf. Returns 0, or -1 after reporting the failure with perror.
[[nodiscard]] int platform_release(char *buf, std::size_t size);

// Extra open flag for reading a file whole and for writing a README:
// O_DIRECT on FreeBSD, which keeps the data out of the buffer cache; none
// on Linux, where direct I/O would demand aligned buffers and lengths,
// unless the build asks for it (QUILLMARK_DIRECT_IO) to test the retry
// below.
int platform_direct_flag();

// Some file systems refuse direct I/O with EINVAL: ZFS with Direct I/O
// support refuses a read or write whose buffer, offset or length is not
// page-aligned, Linux's ext4 one that is not block-aligned, and tmpfs the
// flag itself at open. Clears the direct-I/O flag on fd so that the caller
// can retry once. True when the flag was set and is now cleared.
[[nodiscard]] bool platform_drop_direct(int fd);

// Open flags for a directory that serves only as the start of openat
// calls: it then needs search permission alone, not read permission.
int platform_dir_flags();

// Opens rel, a relative path, below the directory dirfd, refusing a path
// whose resolution would leave that directory (a ".." or a symbolic link
// that leads out). Returns the descriptor, or -1 with errno set; when the
// path leads out, platform_leads_out(errno) is true.
[[nodiscard]] int platform_open_beneath(
    int dirfd, const char *rel, int flags, int mode);
[[nodiscard]] bool platform_leads_out(int error);
// The errno value that platform_leads_out takes for leading out.
[[nodiscard]] int platform_leads_out_error();
// Walks the directories of rel (all its names but the last) below dirfd,
// one name at a time, never through a symbolic link nor up a "..", both
// refused as leading out; when make is set, a missing directory is made
// (mode 0755). The descriptor of the last directory (dirfd itself when rel
// has one name: close only another), and its last name in *last; -1 with
// errno set.
[[nodiscard]] int platform_walk_parent(
    int dirfd, const char *rel, bool make, const char **last);
#ifndef __FreeBSD__
// The same for kernels without openat2: stricter, as it refuses every
// symbolic link on the way, the last name's included (as leading out, or
// as O_NOFOLLOW has it when the caller asked for that).
[[nodiscard]] int platform_open_walking(
    int dirfd, const char *rel, int flags, int mode);
#endif

// Closes fd, the README just written at path: 0, or -1 with errno set when
// close reports an error (a delayed write error of NFS or a full disk).
[[nodiscard]] int platform_close_output(int fd, const char *path);

// Allocates size bytes for a file read whole; freed with free(). On Linux a
// large buffer is aligned for transparent huge pages, so that filling it
// takes a few page faults instead of one per 4 KiB. Null on failure.
[[nodiscard]] void *platform_alloc_text(std::size_t size);

// Allocates size zeroed bytes for a buffer or table that a run keeps;
// freed with free(). Null with errno set on failure.
[[nodiscard]] void *platform_alloc(std::size_t size);

// Asks for the highest real-time scheduling priority for this process.
// A refusal is ignored.
void platform_raise_priority();

// Lists the directory open on fd, whose descriptor the listing takes over:
// call platform_next_entry until it gives false, then platform_close_list.
// Null with errno set when it cannot be listed.
struct platform_list;
[[nodiscard]] platform_list *platform_list_dir(int fd);
// The kind of a listed entry, from the listing where the file system gives
// it, else from fstatat beneath dirfd; unknown when it is gone.
enum class entry_kind : unsigned char { unknown, directory, regular, other };
// The next entry's name (valid until the next call) and kind, "." and ".."
// left out; false at the end.
[[nodiscard]] bool platform_next_entry(
    platform_list *list, int dirfd, const char **name, entry_kind *kind);
void platform_close_list(platform_list *list);

// Takes the exclusive advisory lock of the open file or directory fd, which
// goes with the descriptor: 0, or -1 with errno set (EWOULDBLOCK when
// another holds it and wait is false).
[[nodiscard]] int platform_lock(int fd, bool wait);

// Makes a write to a pipe whose reader has gone fail with EPIPE instead of
// ending the process. Every system the tool runs on has <signal.h>; the
// FreeBSD header set of the compile check has not, and there this is empty.
void platform_ignore_broken_pipe();

// The time of day, in seconds since the epoch, that a run's feeds are
// dated by.
[[nodiscard]] long long platform_now();
