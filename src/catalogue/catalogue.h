// The ports tree catalogue: start-up, the category list, the INDEX and the
// lookup of a port's INDEX line.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

// Prepares a run: priority, exit handler, the two directories, the category
// list and the grouped INDEX. 0, or -1 after reporting why.
[[nodiscard]] int start_up();

// Frees the INDEX, the templates, the group array and the package index.
// Registered with atexit; safe to run more than once.
void clean_up();

// Reads the "SUBDIR += " names of the top-level Makefile (required) and
// Makefile.local (optional, merged in sorted position) into category_list.
// 0, or -1 after reporting why.
[[nodiscard]] int read_category_list();

// The descriptor of the top directory that every file of the tree is opened
// beneath: opened on first use (start-up), kept until clean_up. -1 with
// errno set when the top cannot be opened.
[[nodiscard]] int tree_fd();

// Opens path, the top directory followed by "/" and a path below it,
// beneath the top directory: a path whose resolution would leave the tree
// (a "..", a symbolic link that leads out) is refused, so that
// platform_leads_out(errno) is true. Links that stay inside are followed.
// A path not below the top is opened as it is. -1 with errno set.
[[nodiscard]] int open_in_tree(const char *path, int flags, int mode);

// Reports a failed open of path: the refusal of a path that leads out of
// the tree ("PATH: not VERB: the path leads out of the ports tree"), or
// perror.
void report_open_failure(const char *path, const char *verb);

// Opens an input file for reading, never blocking (flags are added to
// O_RDONLY): beneath the top when in_tree, else as it is. A FIFO, device
// or socket is refused with "PATH: not a regular file"; a directory is
// left to fail at its first read. -1 after the report.
[[nodiscard]] int open_input(const char *path, bool in_tree, int flags);

// pread and pwrite, retried after EINTR, and once without direct I/O when
// the file system refuses it (EINVAL).
[[nodiscard]] ssize_t read_direct(
    int fd, char *buf, std::size_t size, off_t offset);
[[nodiscard]] ssize_t write_direct(
    int fd, const char *buf, std::size_t size, off_t offset);

// The whole file as one allocated, NUL-terminated text, its length in
// *size when size is not null; opened beneath the top when in_tree. Null
// after a report on standard error.
[[nodiscard]] char *load_file(
    const char *path, std::size_t *size = nullptr, bool in_tree = false);

// Opens a Makefile of the tree as a stream (see open_input). Null after
// the report; an optional Makefile that cannot be opened is not reported,
// unless its path leads out of the tree.
[[nodiscard]] FILE *open_makefile(const char *path, bool optional = false);

// Closes a Makefile stream. False, after perror with the path, when a read
// failed: the file then counts as unreadable.
[[nodiscard]] bool close_makefile(FILE *f, const char *path);

// Loads <top_dir>/INDEX-<release digits> into index_text. 0, or -1.
[[nodiscard]] int load_index();

// Fills index_fields and field_text from one NUL-terminated line. Fields a
// line lacks read as empty. Returns the number of fields, or -1 when the
// line does not fit field_text or has more fields than index_fields holds.
int split_index_line(const char *line);

// Validates every INDEX line, cuts the text into lines in place and records
// where each category group begins. 0, or -1 after the line's error.
[[nodiscard]] int group_index();

// Selects the INDEX group of the listed category name for find_port. 0, or
// 1 after "No such category".
[[nodiscard]] int select_category(const char *name);

// Looks up the INDEX line of the port directory path in the selected group.
// 1 when found: the line is split and the cursor stands behind it. 0 when
// not: nothing changes and nothing is reported.
[[nodiscard]] int find_port(const char *path);

// The primary category of an INDEX line: the first word of field 7.
std::string_view primary_category(const char *line);

// Field k (numbered from 1) of an INDEX line, read in place; empty when the
// line has fewer fields.
std::string_view index_line_field(const char *line, int k);

// Builds the package index from the grouped INDEX: the line of every
// package name and the dependents of every line. Once per run; 0, or -1
// after "calloc() failure" (later calls give -1 without a message).
[[nodiscard]] int build_packages();

// Frees the package index and forgets the examined port template. Safe to
// run more than once.
void drop_packages();

// The number of the first INDEX line whose package name (field 1) is name,
// or -1 (also while no index is built).
[[nodiscard]] long find_package(std::string_view name);

// INDEX line n, counted from 0 in INDEX order.
[[nodiscard]] const char *package_line(std::size_t n);

// What each word of the dependency fields 8 and 9 of line n names, in the
// order of the words: the line of that package, or no_package.
inline constexpr std::uint32_t no_package = UINT32_MAX;
[[nodiscard]] std::span<const std::uint32_t> package_depends(std::size_t n);

// The number of the INDEX line that begins at line, or -1.
[[nodiscard]] long package_number(const char *line);

// The lines whose build or run dependencies name the package of line n,
// each once, in INDEX order.
[[nodiscard]] std::span<const std::uint32_t> package_dependents(std::size_t n);
