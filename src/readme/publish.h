// The output root (-o), atomic publishing through a link, and the lock
// that keeps runs apart.
#pragma once

#include <sys/stat.h>

#include <cstddef>

// Takes the lock that keeps two runs from writing at once: on the
// directory that holds the output root with -o, else on the top of the
// tree. Waits for a run that holds it (said at -v); goes on without it
// where the file system has no locks (said at -v). Held until exit.
void take_run_lock();

// Readies the output root after start-up: a missing one is made, a
// directory is written into, and a link to a directory gets a generation
// brought up to date beside it. 0, or -1 after a message (nothing has been
// switched). Does nothing without -o.
[[nodiscard]] int prepare_output();

// Opens the file that the tree path names (top_dir or a path below it)
// where the run writes it: beneath the output root with -o, creating the
// directories on the way when flags hold O_CREAT; else in the tree.
[[nodiscard]] int open_output(const char *path, int flags, int mode);

// The path of the written file that the tree path stands for, as messages
// show it. False when it does not fit (then buf holds path's start).
[[nodiscard]] bool output_shown(const char *path, char *buf, std::size_t size);

// While publishing: remembers that the run made the page at path, and
// gives the open page fd, whose state before the run was before (same:
// it already held the page's text; compared: the file was there before
// and its bytes were compared with the text), the modification time a
// reader should see: the current generation's when its page holds the
// same bytes, else a new one. 0, or an errno value.
[[nodiscard]] int settle_page(const char *path, int fd,
    const struct stat &before, bool same, bool compared, const char *text,
    std::size_t length);

// Ends a run with -o through a link: carries every page that the run did
// not make over from the current generation, removes what the current one
// no longer has, and switches the link, unless unwritten pages (or any
// failure here) forbid it. The number of failures to add to the status.
[[nodiscard]] int finish_output(int unwritten);
