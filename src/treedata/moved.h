// The tree's MOVED list: the ports that were renamed or removed, where a
// chain of moves ends, and the earlier names of a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One line of MOVED that still tells an origin's fate. Both origins are
// without their flavors ("@qt6"): a flavor names no directory.
struct moved_entry {
	std::string_view old_origin; // category/name
	std::string_view new_origin; // category/name; empty: removed
	std::string_view date;	     // YYYY-MM-DD
	std::string_view reason;     // may be empty
	std::size_t line;	     // in MOVED, from 1
};

inline constexpr std::uint32_t no_moved_entry = UINT32_MAX;

// The longest category or port name of an origin: the longest name of a
// directory (NAME_MAX) on FreeBSD's and Linux's file systems. A longer one
// names no port that a tree can hold, nor a directory for a page. Within it
// a page's path below the output root, category/name/README.html, is at
// most 523 bytes, within PATH_MAX everywhere (1024 on FreeBSD, the least).
inline constexpr std::size_t moved_name_max = 255;

// Builds the list from text, the whole MOVED file, which must stay as it is
// until moved_release. Comments and blank lines are passed over; a line that
// is not "old|new|YYYY-MM-DD|reason" with origins of the form category/name,
// each name at most moved_name_max bytes, is reported at -v, naming path and
// its line number, and skipped: it is the tree's data, never a page. A line
// that moves a port to itself (only a flavor dropped) gives no entry, and
// when several lines move one origin away the last one holds. Returns 0, or
// -1 after reporting that memory ran out. A list built before is released
// first.
[[nodiscard]] int moved_build(std::string_view text, const char *path);

// The tree's MOVED, at its top.
inline constexpr std::string_view moved_name = "MOVED";

// Reads MOVED of the tree and builds the list from it the first time it is
// needed after start or moved_release (see need_top_file): 0 when built or
// when the tree has none (an empty list), 1 after a message when it cannot
// be read (an empty list too), -1 when memory ran out.
[[nodiscard]] int need_moved();

// Frees the list, and the MOVED that need_moved read; safe to call twice.
void moved_release();

// The number of entries: one per origin moved or removed, in MOVED's order.
[[nodiscard]] std::size_t moved_count();

// Entry i, i < moved_count().
[[nodiscard]] const moved_entry &moved_at(std::size_t i);

// The lines skipped as malformed in the last build.
[[nodiscard]] std::size_t moved_skipped();

// The entry that moves origin away, or no_moved_entry.
[[nodiscard]] std::uint32_t moved_find(std::string_view origin);

// Where entry i's chain of moves ends: a port moved on and on leads straight
// to its last origin; empty when the chain ends in a removal. A move counts
// only when it comes later in MOVED than the one before it in the chain, so
// a port moved back to an earlier name ends there and every chain ends.
[[nodiscard]] std::string_view moved_destination(std::size_t i);

// The earlier names of origin: every entry whose chain of moves passes
// through origin (a to b and b to c: c was a and b), other than one moving
// origin itself. Writes their numbers, in MOVED's order, to out, at most
// room of them, and returns how many there are (0 also when query's room
// cannot be had).
struct moved_query;
[[nodiscard]] std::size_t moved_formerly(std::string_view origin,
    std::uint32_t *out, std::size_t room, moved_query *query);

// The room of a caller's queries of moved_formerly, one for each thread
// that asks: made on its first query, freed with release_moved_query.
struct moved_query {
	std::uint32_t *mark = nullptr; // by entry: the query that saw it
	std::uint32_t *work = nullptr; // room for one query's entries
	std::uint32_t query = 0;
	// The size of the list it was made for: entries, origins.
	std::uint32_t entries = 0, origins = 0;
};
void release_moved_query(moved_query *query);
