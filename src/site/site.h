// The site: where pages are written (the tree, or an output root given
// with -o), how each page reaches the disk, publishing through a link to
// whole generations, and the lock that keeps runs apart.
//
// A builder hands a finished page to write_file, which opens it through
// open_output (beneath the output root, or in the tree), writes it in place
// unless it holds those bytes already, and lets the publishing settle its
// modification time. The module's state is its own: prepare_output builds
// it, site_release frees it.
#pragma once

#include <cstddef>
#include <string_view>

#include "state/state.h"

// Takes the lock that keeps two runs from writing at once: on the
// directory that holds the output root with -o, else on the top of the
// tree. Waits for a run that holds it (said at -v); goes on without it
// where the file system has no locks (said at -v). Held until exit.
void take_run_lock();

// Readies the output root after start-up: a missing one is made, a
// directory is written into, and a link to a directory gets a generation
// brought up to date beside it, with the memory its bookkeeping needs.
// 0, or -1 after a message (nothing has been written or switched). Does
// nothing without -o.
[[nodiscard]] int prepare_output();

// Opens the file that the tree path names (top_dir or a path below it)
// where the run writes it: beneath the output root with -o, creating the
// directories on the way when flags hold O_CREAT; else in the tree. -1
// with errno set; nothing is reported.
[[nodiscard]] int open_output(const char *path, int flags, int mode);

// The path of the written file that the tree path stands for, as messages
// show it. False when it does not fit (then buf holds path's start); with
// shown_size bytes it always fits.
[[nodiscard]] bool output_shown(const char *path, char *buf, std::size_t size);
inline constexpr std::size_t shown_size = 2 * path_size;

// Says on standard error that the file name in dir is not written: "DIR/NAME:
// " and what format gives, dir shown as output_shown shows it.
void report_output_file(const char *dir, std::string_view name,
    const char *format, ...) __attribute__((format(printf, 3, 4)));

// True when the file open on fd holds exactly the length bytes of text (its
// size is known to be length). A read that fails counts as a difference:
// the page is then written, which is never wrong.
[[nodiscard]] bool file_holds(int fd, const char *text, std::size_t length);

// Writes length bytes of text as dir/name, unless it holds them already;
// refuses what is not a regular file of its own. 0, or 1 after the report.
[[nodiscard]] int write_file(const char *dir, std::string_view name,
    const char *text, std::size_t length);

// True when dir/name holds exactly the length bytes of text already, looked
// at without opening it for writing: a file that write_file would leave as
// it is, which a user who may not write it can then do without. False, and
// the file is left to write_file, when it differs, is not a regular file of
// its own, cannot be read, or the run publishes through a link (where a
// page holding its bytes may still have its time settled).
[[nodiscard]] bool output_holds(const char *dir, std::string_view name,
    const char *text, std::size_t length);

// write_file of dir/README.html.
[[nodiscard]] int write_readme(
    const char *dir, const char *text, std::size_t length);

// While publishing through a link, notes that the tree lists the port
// directory path (its category Makefile's SUBDIR names it).
void note_listed(const char *path);

// While publishing through a link, notes that the SUBDIR names of the
// category directory path were all read (and noted).
void note_list_read(const char *path);

// Sums up, once the pages are made, the page failures that were counted
// but not reported one by one (a line per kind), and at a terminal, when
// this user could write no page of the tree, suggests -o.
void report_page_failures();

// Ends a run with -o through a link: carries every file that the run did
// not make over from the current generation (in a whole-tree run, not the
// pages of what the tree no longer lists), removes what the current one no
// longer has, and switches the link, unless unwritten pages (or any
// failure here) forbid it. The number of failures to add to the status.
[[nodiscard]] int finish_output(int unwritten, bool whole_tree);

// After a run through a link that does not switch: the spare generation
// that this run began is removed again, with all it wrote there, so the
// file system has the room it had before the run; one that was there
// before is left for the next run, and a message says how to get its
// space back.
void abandon_output();

// True while the run publishes through a link to generations.
[[nodiscard]] bool publishing_generations();

// The file rel of the generation that the link points to, as read.
struct published_file {
	char *text;	  // read whole (freed with free()), or null
	std::size_t size; // its length
	// When text is null: null when there is none or the run does not
	// publish through a link; else why it was not read ("not a regular
	// file", or the system's reason).
	const char *why;
	char shown[path_size]; // its path, as messages show it
};
[[nodiscard]] published_file read_published(const char *rel);


// Closes the output root and frees the publishing's memory. Safe to run
// more than once.
void site_release();
