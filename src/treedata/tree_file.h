// Files of the tree that pages show: the per-port files a page reads (a
// port's Makefile, its pkg-message), and the files at the top of the tree
// that a run reads once (MOVED, UPDATING).
#pragma once

#include <cstddef>
#include <string_view>

#include "state/state.h"

// The per-port files, each with a slot of its own in the module's buffer,
// so that what a page read from one stays while it reads the other.
enum class port_file : unsigned char {
	makefile,
	pkg_message,
};
inline constexpr std::size_t port_file_count = 2;

// A Makefile larger than this is no port's Makefile and is not read.
inline constexpr std::size_t port_makefile_max = 256 * 1024;
// Nor is a pkg-message larger than this.
inline constexpr std::size_t pkg_message_max = 64 * 1024;

// A per-port file as read: its bytes, followed by a NUL, writable in place;
// and, for a pkg-message, room of as many bytes again for its reader.
struct port_file_text {
	char *text;
	std::size_t size;
	char *room;
};

// Reads the file which in the port directory dir (absolute, below the top
// of the tree, where it is opened), a regular file within its bound, into
// its slot of files (allocated on first need; one for each thread that
// reads them).
// Returns 0 with *out filled; 1 when it was not read (missing, not a
// regular file, too large, unreadable), said only at -v ("PATH: status not
// read: WHY" for a Makefile, "PATH: message not read: WHY" for a
// pkg-message; a missing pkg-message is no news and is not said). The text
// stays valid until the next read of the same file into files.
[[nodiscard]] int read_port_file(const char *dir, port_file which,
    run_buffer *files, port_file_text *out);

// Reads name (a file at the top of the tree) whole into one allocated,
// NUL-terminated text, to be freed with free(). Returns 0 with *text and
// *size set; 0 with *text null when the tree has no such file (said at -v);
// 1 after one message when it is there but cannot be read (not a regular
// file, a path that leads out of the tree, a failed read or allocation).
[[nodiscard]] int load_top_file(
    std::string_view name, char **text, std::size_t *size);

// A file at the top of the tree that a module reads once per run and builds
// its index from, kept while the index points into it.
struct top_file {
	char *text;
	std::size_t size;
	bool loaded; // tried since start or release_top_file
	int result;  // what that try gave
};

// Loads the file name into *file and builds from it the first time it is
// needed: build(text, path) gets the whole text, which stays until
// release_top_file. Later calls give the first result again at once: 0
// when built, or when the tree has no such file (nothing to build); 1 when
// it could not be read (after load_top_file's message); build's -1 when
// memory ran out.
[[nodiscard]] int need_top_file(top_file *file, std::string_view name,
    int (*build)(std::string_view text, const char *path));

// Frees the text of file and forgets that it was tried. Safe to run more
// than once.
void release_top_file(top_file *file);
