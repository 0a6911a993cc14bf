// The ports tree catalogue: start-up, the category list, the INDEX and its
// records, the lookup of a port's record and the package index.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

// Prepares a run: priority, exit handler, the category list and the
// grouped INDEX. The top and templates directories must be set. 0, or -1
// after reporting why.
[[nodiscard]] int start_up();

// Frees everything a run loaded or built (the INDEX, the templates, the
// group array, the lookup index, the package index, the builders' buffers,
// the site's state), closes the top directory and clears the run-state
// record. Registered with atexit; safe to run more than once.
void clean_up();

// Reads the "SUBDIR += " names of the top-level Makefile (required) and
// Makefile.local (optional, merged in sorted position) into category_list.
// 0, or -1 after reporting why.
[[nodiscard]] int read_category_list();

// The descriptor of the top directory that every file of the tree is opened
// beneath: opened on first use (start-up), kept until clean_up. -1 with
// errno set when the top cannot be opened.
[[nodiscard]] int tree_fd();
// Closes it. Safe to run more than once.
void release_tree_fd();

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

// The INDEX: records.

// The fields of an INDEX line, in their order: the thirteen of the format,
// and a fourteenth that the tool accepts and ignores.
enum class index_field : int {
	package, // name-version
	origin,	 // /usr/ports/CATEGORY/PORT
	prefix,
	comment,
	descr, // the description file
	maintainer,
	categories,    // the primary one first, blank-separated
	build_depends, // package names, blank-separated, as the four below
	run_depends,
	website,
	extract_depends,
	patch_depends,
	fetch_depends,
	extra,
};
inline constexpr std::size_t index_field_count = 14;
static_assert(
    static_cast<std::size_t>(index_field::extra) + 1 == index_field_count);

// A line of the longest length an INDEX may hold, or longer, is an error:
// real meta-ports list hundreds of dependencies, far below this.
inline constexpr std::size_t index_line_max = (1 << 20) - 1;
// The primary category names a directory of the tree and a group.
inline constexpr std::size_t primary_category_max = 31;

// One INDEX line, split into its fields in place. A field the line lacks
// reads as empty.
struct index_record {
	const char *line = nullptr; // where the line begins
	std::size_t count = 0;	    // the fields the line has
	std::array<std::string_view, index_field_count> fields{};

	[[nodiscard]] std::string_view operator[](index_field f) const
	{
		return fields[static_cast<std::size_t>(f)];
	}
};

// Splits the NUL-terminated line into record, up to and including the field
// last (the fields after it are not looked for and read as empty). A field
// begins at the line's start and after every '|' that is not the line's
// last character. False when the line has more than index_field_count
// fields; record then holds the first of them.
[[nodiscard]] bool split_index_line(const char *line, index_record *record,
    index_field last = index_field::extra);

// The primary category of a record: the first word of its categories.
[[nodiscard]] std::string_view primary_category(const index_record &record);

// The words of a dependency field: the runs of characters between blanks,
// in order. Every reader of a dependency field walks it with this, so that
// the words of a field are the same to all of them.
class field_words {
      public:
	explicit field_words(std::string_view field) : rest_(field) {}
	// The next word, its bytes inside the field; false after the last.
	[[nodiscard]] bool next(std::string_view *word);

      private:
	std::string_view rest_;
};

// Loads <top_dir>/INDEX-<release digits> into index_text. 0, or -1.
[[nodiscard]] int load_index();

// Validates every INDEX line, cuts the text into lines in place and records
// where each category group begins. 0, or -1 after the line's error.
[[nodiscard]] int group_index();

// The lookup.

// The INDEX group of one category, and where the next lookup in it starts.
struct category_scan {
	char *group = nullptr;	// its first line
	char *cursor = nullptr; // the next line to examine
	char *end = nullptr;	// the first line after it; null: text's end
};

// True when the category list names name.
[[nodiscard]] bool listed_category(std::string_view name);

// Selects the INDEX group of the listed category name into *scan. 0, or 1
// after "No such category" with *scan unchanged.
[[nodiscard]] int select_category(const char *name, category_scan *scan);

// Looks up the INDEX line of the port directory path in the selected group.
// True when found: the line is split into *record and the cursor stands
// behind it. False when not: nothing changes and nothing is reported.
[[nodiscard]] bool find_port(
    category_scan *scan, const char *path, index_record *record);

// Frees the lookup's index of a group. Safe to run more than once.
void release_lookup();

// The package index.

// The dependency fields whose words the package index resolves, in the
// order of package_depends' kinds.
inline constexpr std::array<index_field, 2> linked_fields = {
    index_field::build_depends, index_field::run_depends};

// Makes a text of INDEX line n as a port page shows it (the link to its
// page, its entry in a list) at pos (bounded by end); null when it does not
// fit.
using link_maker = char *(*)(char *pos, char *end, std::size_t n);
// The kinds of text made once for every line.
inline constexpr std::size_t line_text_kinds = 2;

// Builds the package index from the grouped INDEX: the line of every
// package name, the lines that the words of each line's linked fields name,
// the dependents of every line, made by each maker that is not null, that
// kind of text of every line, and when name_order is set the place of every
// line in the order of package names. Once per run; 0, or -1 after saying what
// could not be allocated (later calls give -1 without a message).
[[nodiscard]] int build_packages(
    std::span<const link_maker, line_text_kinds> makers, bool name_order);

// The order of package names in lists: without regard to case, then by
// bytes. Less than 0, 0 or more than 0, as a is before, the same as or
// after b.
[[nodiscard]] int compare_package_names(std::string_view a, std::string_view b);

// The place of line n in that order of all the INDEX's lines (ties by line),
// when build_packages was asked for it and had the room; UINT32_MAX
// otherwise.
[[nodiscard]] std::uint32_t package_rank(std::size_t n);

// True once building the package index has failed: every page that needs
// it, and so the whole run, cannot be made.
[[nodiscard]] bool package_index_failed();

// Frees the package index. Safe to run more than once.
void release_packages();

// The number of the first INDEX line whose package name is name, or -1
// (also while no index is built).
[[nodiscard]] long find_package(std::string_view name);

// INDEX line n, counted from 0 in INDEX order, split up to the field last.
[[nodiscard]] index_record package_record(
    std::size_t n, index_field last = index_field::extra);

// The number of the INDEX line that begins at line, or -1.
[[nodiscard]] long package_number(const char *line);

// What each word of the linked field of line n names, in the order that
// field_words gives them: the line of that package, or no_package. Empty
// while no index is built.
inline constexpr std::uint32_t no_package = UINT32_MAX;
[[nodiscard]] std::span<const std::uint32_t> package_depends(
    std::size_t n, index_field linked);

// The lines whose build or run dependencies name the package of line n,
// each once, in INDEX order.
[[nodiscard]] std::span<const std::uint32_t> package_dependents(std::size_t n);

// The text of kind that its maker made for line n; empty when there was no
// maker or no room for them (the caller then makes it itself).
[[nodiscard]] std::string_view package_text(std::size_t n, std::size_t kind);

// The package name of INDEX line n.
[[nodiscard]] std::string_view package_name(std::size_t n);
