// The site module's own state and the calls between its files; no other
// module includes this.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "site/marker.h"
#include "state/state.h"
#include "text/hash.h"

// A set of 64-bit path hashes (never 0), open-addressed in a power of two
// of slots that doubles when it is half full: a run touches memory in
// proportion to its pages, not to the most it could make.
struct hash_set {
	std::uint64_t *slot = nullptr;
	std::size_t size = 0;
	std::size_t count = 0;
};

// A marker's paths by hash: their offset in its text, + 1, in a power of
// two of slots, twice as many as the paths at least.
using path_table = slot_table;

// One record, built by prepare_output and released by site_release.
struct site_state {
	// The directory that holds the output root (open), and the root's
	// last name.
	char parent[path_size];
	char name[path_size];
	int parent_fd = -1;

	// With -o: the directory that pages are written beneath (the root,
	// or when the root is a link the generation being brought up to
	// date), and its path as messages show it.
	int root_fd = -1;
	char root_shown[path_size];

	// When the root is a link: the generation it points to, its name as
	// the link says and as messages show it, and whether this tool made
	// it; the spare generation being written.
	bool publishing = false;
	int current_fd = -1;
	bool current_ours = false;
	char current_name[path_size];
	char current_shown[path_size];
	char spare_name[path_size];
	bool spare_begun = false; // this run made the spare generation

	// The pages that this run made, by a 64-bit hash of their path below
	// the root; overflow when they were more than one run publishes.
	// When this or another set could not grow (reported), the run does
	// not switch.
	hash_set made;
	bool made_overflow = false;
	bool grow_failed = false;
	file_set made_set{}; // the pages of this run
	file_set
	    carried_set{}; // what the walk found in the current one besides

	// The markers of the current generation, read whole into
	// current_marker_text, and of the spare one, its head alone.
	char *current_marker_text = nullptr;
	char spare_marker_text[8192];
	generation_marker current_marker{};
	generation_marker spare_marker{};
	bool current_named = false; // its id names the directory linked to
	bool both_complete = false; // both complete and named as they are
	bool use_list = false;	    // current = spare + the current's list
	// The current one's listed paths.
	path_table listed;

	// The files of the current generation that are not the tool's, when
	// its marker is of this format and names it, and the hashes of the
	// directories that hold them. A file there that is not kept is the
	// tool's when it is older (by its change time) than the marker:
	// current_done, the marker's modification time, later than every
	// change of the run that wrote it. Else a file is the tool's by its
	// name.
	bool current_kept_known = false;
	struct timespec current_done {};
	path_table kept;
	hash_set kept_dirs;
	// Whether the spare generation is as a run completed it (its marker
	// says so, before this run) and the current one was made level with
	// it.
	bool spare_done_known = false;

	// A whole-tree run: the category and port directories that the tree
	// lists (by their path's hash) and the categories whose lists were
	// read (their path with a '/' after it). Only a whole-tree run drops
	// pages, and only while the set held them all.
	bool whole_tree = false;
	hash_set tree_listed;
	bool tree_overflow = false;
	// The directories of the current generation that the walk found.
	hash_set current_dirs;
	std::size_t dropped = 0; // pages of unlisted directories dropped
	// Files of the current generation not marked as the tool's where
	// this run wrote files of the same names.
	std::size_t replaced = 0;

	// The paths whose bytes this run changed from the current
	// generation's, each ended by a newline; unknown when they are more
	// than a marker keeps.
	char *changed_text = nullptr;
	std::size_t changed_length = 0;
	std::size_t changed_count = 0;
	bool changed_unknown = false;

	// The files carried over that are not the tool's, as changed_text.
	char *kept_text = nullptr;
	std::size_t kept_length = 0;
	std::size_t kept_count = 0;
	bool kept_unknown = false;

	// Page writes that failed, by the call that failed and its errno:
	// past failures_shown of one kind the rest are only counted. And
	// the pages set out to be written, and how many of those were
	// refused for want of permission.
	struct failure_kind {
		int call;
		int error;
		unsigned long count;
	};
	failure_kind failures[8]{};
	std::size_t failure_kinds = 0;
	unsigned long pages_tried = 0;
	unsigned long pages_denied = 0;
};

extern site_state site;

// The path below the top of a tree path: "" for the top itself, null when
// it is not in the tree.
[[nodiscard]] const char *below_top(const char *path);

// Takes the marker of the generation open on dirfd back to its first line,
// before a run writes there: a generation that a run has begun to change
// is no longer the one its marker describes. 0, or an errno value.
[[nodiscard]] int reset_marker(int dirfd);

// Readies publishing through the link that the root is: reads the current
// generation's marker, chooses the spare one and opens it as the root.
// 0, or -1 after the report.
[[nodiscard]] int prepare_generations();

// Clears the way for the page rel in the spare generation, which the run
// brings level with the current one: a file or link where a directory of
// its path goes, a directory where the page goes. What stands there came
// from a generation that had it where this run writes, and the current
// one does not have it there. 0 when something was removed; -1 with errno
// set when nothing stands in the way or it could not be removed (walk
// failures are reported).
[[nodiscard]] int clear_way(const char *rel);

// Frees what prepare_generations allocated.
void release_generations();

// While publishing: remembers that the run made the page at path, and
// gives the open page fd, whose state before the run was before (same:
// it already held the page's text; compared: the file was there before
// and its bytes were compared with the text), the modification time a
// reader should see: the current generation's when its page holds the
// same bytes, else a new one. 0, or an errno value.
[[nodiscard]] int settle_page(const char *path, int fd,
    const struct stat &before, bool same, bool compared, const char *text,
    std::size_t length);

// The calls between the files of publishing through a link: generations.cc
// (choosing and switching), path_sets.cc, made.cc, marker.cc and level.cc.

// The longest list of changed paths kept, in bytes and in paths; longer,
// the marker says "all".
inline constexpr std::size_t list_size = std::size_t{4} << 20;
inline constexpr std::size_t list_paths = std::size_t{1} << 17;
// The most pages that one run may publish.
inline constexpr std::size_t made_max = std::size_t{3} << 17;

// size bytes, zeroed, for a table of the publishing; null after saying how
// much could not be had.
[[nodiscard]] void *allocate(std::size_t size);

[[nodiscard]] bool has_hash(const hash_set &set, std::uint64_t h);
enum class add_result { added, present, full, failed };
// Adds h to the set unless it holds it: full when it holds most hashes
// already, failed when it could not grow (reported).
[[nodiscard]] add_result add_hash(
    hash_set *set, std::size_t most, std::uint64_t h);
void release_set(hash_set *set);
// The hash of the first length bytes of rel as a path of its own.
[[nodiscard]] std::uint64_t prefix_hash(const char *rel, std::size_t length);
// Puts count paths of the current generation's marker, from list on, in
// table. 0 when done, 1 when they are more than a list holds, -1 when the
// table could not be had (reported).
[[nodiscard]] int fill_paths(
    path_table *table, const char *list, std::size_t count);
[[nodiscard]] bool in_paths(const path_table &table, const char *rel);

// Adds rel to the set of files a marker records.
void add_to_set(file_set *set, const char *rel);
// Whether this run made the page rel.
[[nodiscard]] bool was_made(const char *rel);
// Notes the file rel of the current generation, not the tool's, as
// carried over.
void note_kept(const char *rel);

// Reads the marker of the generation open on dirfd into buf: whole, with
// its list, when whole; else its head. Not complete when it is missing,
// of another format, cut short, or longer than any written here.
[[nodiscard]] generation_marker read_marker(
    int dirfd, char *buf, std::size_t size, bool whole);
// Puts the current marker's changed paths, or its kept paths and the
// directories that hold them, in their tables. 0, 1 or -1 as fill_paths.
[[nodiscard]] int fill_listed();
[[nodiscard]] int fill_kept();
// Whether the current marker lists rel as changed.
[[nodiscard]] bool was_listed(const char *rel);
// Writes the marker of the spare generation, complete, as the generation
// fresh that holds the files set: through a new file renamed over the old
// one, so that a marker is whole or its first line only. 0, or an errno
// value.
[[nodiscard]] int write_marker(const char *fresh, const file_set &files);

// Brings the directory spare of the spare generation level with cur of
// the current one (cur -1: there is none): the copy pass, then the prune
// pass. rel is the directory's path below the root, ending in '/' unless
// empty, in a buffer of path_size bytes.
void level_dir(int cur, int spare, char *rel, int *failures);

// Sets the modification time of fd to when (now, when null). 0 or errno.
[[nodiscard]] int set_mtime(int fd, const struct timespec *when);
[[nodiscard]] int open_dir_at(int dirfd, const char *name);

inline bool
same_time(const struct stat &a, const struct stat &b)
{
	return a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
	    a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

inline bool
before(const struct timespec &a, const struct timespec &b)
{
	return a.tv_sec < b.tv_sec ||
	    (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}
