// A port's status as its own Makefile sets it: deprecated, expiring,
// broken, forbidden, ignored, and its licence.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "treedata/port_choices.h"
#include "treedata/tree_file.h"

// The variables read, in the order of port_status's values.
enum class status_var : unsigned char {
	deprecated,
	expiration_date,
	broken,
	forbidden,
	ignore,
	license,
};
inline constexpr std::size_t status_var_count = 6;
inline constexpr std::array<const char *, status_var_count> status_var_names = {
    "DEPRECATED", "EXPIRATION_DATE", "BROKEN", "FORBIDDEN", "IGNORE",
    "LICENSE"};

// The value of each variable that the Makefile assigns at its top level
// (with "=", ":=" or "?=", continuation lines joined with one blank, its
// comment and outer blanks dropped, "${...}" as written), NUL-terminated;
// null when the file does not set it there. A value that depends on the
// build is null too: one assigned inside .if or .for, or after such an
// assignment, one appended to (+=) or taken from a command (!=), or
// undefined (.undef). Set but empty is an empty text, not null.
// The flavors and the options are read in the same pass (port_choices.h),
// and worked out by port_status_choices.
struct port_status {
	std::array<const char *, status_var_count> values{};
	std::uint64_t reading = 0; // of the flavors and options; 0: none

	[[nodiscard]] const char *operator[](status_var v) const
	{
		return values[static_cast<std::size_t>(v)];
	}
};

// Reads the status from text, a Makefile's size bytes followed by a NUL,
// which it cuts and rewrites in place: the values point into it. The
// flavors and options go into book (none are read when it is null).
[[nodiscard]] port_status parse_port_status(
    char *text, std::size_t size, choice_book *book = nullptr);

// The flavors and options of the Makefile that status was read from into
// book, worked out on the first call; valid, like the lists themselves,
// until the next Makefile is read into it, and empty from then on (and for
// a status that read none).
[[nodiscard]] inline port_choices
port_status_choices(const port_status &status, choice_book *book)
{
	return book != nullptr ? choices_of_reading(*book, status.reading)
			       : port_choices{};
}

// Reads the status from the Makefile in the port directory dir (absolute,
// below the top of the tree, where it is opened), a regular file of at most
// port_makefile_max bytes, through read_port_file. Returns 0 with *status
// filled; 1 when the file was not read (missing, not a regular file, too
// large, unreadable), with *status empty and a message only at -v. The
// values point into files, and stay valid until its next Makefile.
[[nodiscard]] int read_port_status(const char *dir, run_buffer *files,
    choice_book *book, port_status *status);
