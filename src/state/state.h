// The run state: one process-wide record that every part of the tool reads
// and writes, zero at start. Texts live in fixed buffers; only the INDEX,
// the templates, the category group array and the package index are
// allocated, once each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

// Sizes of the fixed buffers.
inline constexpr std::size_t path_size = 1024; // any path
inline constexpr std::size_t line_size = 2048; // a Makefile line
inline constexpr std::size_t category_list_size = 2048;
inline constexpr std::size_t category_comment_size = 2048;
inline constexpr std::size_t index_field_count = 14;
// One INDEX line is copied here field by field, so a line may hold up to
// field_text_size - 1 characters. Real meta-ports list hundreds of
// dependencies, far beyond a few kilobytes.
inline constexpr std::size_t field_text_size = 1 << 20;
inline constexpr std::size_t primary_category_max = 31;

// README kinds. Their values are the codes of the placeholders that name
// them (see placeholder_code), which is how a kind prints as its word.
enum readme_kind : int {
	kind_port = 1,
	kind_category = 6,
	kind_top = 10,
};

// A hash index of one category group's lines by their field 2, which the
// lookup builds when a port is not at the cursor (lookup.cc). Its arrays
// share one allocation, kept for the next group that needs an index.
struct lookup_index {
	void *block;		  // the one allocation, or null
	std::size_t room;	  // lines that block has room for
	char *group;		  // the group indexed; null: none
	std::size_t mask;	  // slot count less one (a power of two)
	std::uint32_t *slots;	  // a key's number + 1, or 0 when free
	std::uint32_t *key_start; // per key: its first place in lines
	std::uint32_t *key_count; // per key: its number of lines
	std::uint32_t *line_key;  // per line in text order: its key
	char **lines;		  // the lines, by key, in text order
};

struct run_state {
	int normal_paths; // number of -n options
	int quiet;	  // number of -q options accepted
	int verbosity;	  // number of -v options accepted

	char top_dir[path_size];       // absolute top of the ports tree
	char top_dir_slash[path_size]; // top_dir followed by "/"
	char templates_dir[path_size]; // absolute templates directory

	char category_list[category_list_size]; // packed string list
	std::uint64_t category_count;

	char *index_text;	// the whole INDEX, cut into lines in place
	char *index_end;	// the NUL that ends index_text's bytes
	char **category_groups; // first line of each group, then null
	std::size_t group_count;

	const char *index_fields[index_field_count]; // fields of the last split
	char field_text[field_text_size];	     // what they point into

	char *scan_group;  // first line of the selected group
	char *scan_cursor; // next line of the group to examine
	char *scan_end;	   // first line after the group, null: text's end
	const char *found_line; // the line that find_port found last
	lookup_index lookup;

	char *top_template;
	char *category_template;
	char *port_template;

	char category_comment[category_comment_size];

	int top_fd; // top_dir, that the tree's files are opened beneath
	bool top_fd_open;

	// The port template that port_template_extended examined, and what it
	// found.
	const char *examined_port_template;
	bool port_template_extended;

	// The package index (packages.cc), built only for a port template that
	// links dependencies. Arrays of INDEX line numbers, allocated once.
	int packages_built;		// 0 not yet, 1 built, -1 failed
	std::uint32_t *package_lines;	// offset of each line in index_text
	std::size_t package_count;	// INDEX lines
	std::uint32_t *package_slots;	// hash table: line + 1 (or 0), hash
	std::size_t package_slot_mask;	// slots - 1, slots a power of two
	std::uint32_t *depends_start;	// line n's dependencies: [n], [n + 1]
	std::uint32_t *depends_lines;	// each word of fields 8, 9: its line, or
					// no_package
	std::uint32_t *dependent_start; // line n's dependents: [n], [n + 1]
	std::uint32_t *dependent_lines; // in INDEX order for each line
	// Where the link to each line's page, as a port page shows it, begins
	// in link_text; one more number, the text's end (depends.cc).
	std::uint32_t *link_offsets;
	char *link_text;
	bool link_text_failed; // no room for them: links read the lines
};

extern run_state state;

// Clears every field, as at the start of a process. For tests that run the
// tool more than once in one process; frees only the lookup index, and
// closes the top directory's descriptor.
void reset_state();

// If text begins with all of prefix, the position just past it; otherwise
// text itself. Callers learn of a mismatch by comparing the result to text.
[[nodiscard]] const char *skip_prefix(
    const char *text, std::string_view prefix);
[[nodiscard]] inline char *
skip_prefix(char *text, std::string_view prefix)
{
	return const_cast<char *>(
	    skip_prefix(static_cast<const char *>(text), prefix));
}

// Packed string lists: NUL-terminated names end to end, ended by an empty
// name. Returns the name after the one at name (which must not be empty).
[[nodiscard]] inline const char *
list_next(const char *name)
{
	while (*name != '\0')
		name++;
	return name + 1;
}

// Bounded appends for building texts in fixed buffers. Each writes at pos,
// never at or past end, and returns the position after what it wrote; when
// the text does not fit, or pos is already null, it returns null. A builder
// thus checks once, at the end, whether its whole text fitted.
[[nodiscard]] char *append(char *pos, char *end, std::string_view text);
[[nodiscard]] char *append_number(char *pos, char *end, long long number);

// Copies text with its NUL into dst of size bytes. Returns false, leaving
// dst unchanged, when it does not fit.
[[nodiscard]] bool copy_text(
    char *dst, std::size_t size, std::string_view text);

// Joins the texts into dst of size bytes, NUL-terminated. Returns false when
// they do not fit; dst then holds an unspecified prefix.
[[nodiscard]] bool join_text(
    char *dst, std::size_t size, std::initializer_list<std::string_view> parts);

// The name that a Makefile line gives after prefix ("SUBDIR += "), without
// its newline; null when the line does not begin with prefix, when the name
// is empty, or when it is ".", ".." or holds a "/" and so would lead out of
// the tree (reported as skipped, with the Makefile's path). Cuts line.
[[nodiscard]] const char *subdir_name(
    char *line, std::string_view prefix, const char *makefile);

// Prints the parts of a path that did not fit its buffer, then ": File name
// too long", the way perror would.
void report_too_long(std::initializer_list<std::string_view> parts);
