// The run state: one process-wide record of the settings and of the inputs
// loaded once per run, zero at start, and the small helpers of reporting
// and memory every module shares. What passes from one function to the
// next (a found INDEX record, a category's comment) travels by parameter and
// result, and the indexes built from the INDEX belong to their modules.
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
// The most threads -j may ask for.
inline constexpr int max_page_threads = 256;

// README kinds. Their values are the codes of the placeholders that name
// them (see placeholder_code), which is how a kind prints as its word.
enum readme_kind : int {
	kind_port = 1,
	kind_category = 6,
	kind_top = 10,
};

struct run_state {
	// Settings, from the command line and the environment.
	int normal_paths; // number of -n options
	int quiet;	  // number of -q options accepted
	int verbosity;	  // number of -v options accepted
	int page_threads; // -j: the threads that make pages; 0: not given,
			  // one

	char top_dir[path_size];       // absolute top of the ports tree
	bool top_by_default;	       // neither -p nor PORTSDIR named it
	char top_dir_slash[path_size]; // top_dir followed by "/"
	char templates_dir[path_size]; // absolute templates directory
	char out_dir[path_size];       // -o: the output root, absolute, as
				       // named (a link is not resolved);
				       // empty: pages go into the tree
	char site_url[path_size];      // -u: where the top page is served,
				       // ending in "/"; empty: not given

	// Inputs, loaded once.
	char category_list[category_list_size]; // packed string list
	std::uint64_t category_count;

	char *index_text;	// the whole INDEX, cut into lines in place
	char *index_end;	// the NUL that ends index_text's bytes
	char **category_groups; // first line of each group, then null
	std::size_t group_count;
	std::size_t index_lines; // its lines, counted when they are grouped
};

// The record is filled in at start-up (the options, the directories, the
// tree's category list and INDEX) through startup_state(), and is read-only
// to everything after it: what a run makes or learns later belongs to the
// module that makes it.
extern const run_state &state;
[[nodiscard]] run_state &startup_state();

// The name that a Makefile line gives after prefix ("SUBDIR += "), without
// its newline; null when the line does not begin with prefix, when the name
// is empty, or when it is ".", ".." or holds a "/" and so would lead out of
// the tree (reported as skipped, with the Makefile's path). Cuts line.
[[nodiscard]] const char *subdir_name(
    char *line, std::string_view prefix, const char *makefile);

// Prints the parts of a path that did not fit its buffer, then ": File name
// too long", the way perror would.
void report_too_long(std::initializer_list<std::string_view> parts);

// size zeroed bytes, or null after "WHAT: cannot allocate N bytes: REASON".
[[nodiscard]] void *allocate_reported(std::size_t size, const char *what);

// Memory that a module keeps for the run: allocated when first needed,
// zeroed, released with the module. Null until then.
struct run_buffer {
	char *data;
	std::size_t size;
};

// Makes buffer hold at least size bytes. 0, or -1 after
// "WHAT: cannot allocate N bytes: REASON" (the buffer stays as it was).
[[nodiscard]] int need_buffer(run_buffer *buffer, std::size_t size,
    const char *what);

// Frees buffer. Safe to run more than once.
void release_buffer(run_buffer *buffer);

// Whether to add hint lines on what to do after a failure: only for a
// person at a terminal; what scripts and cron read on a standard error that
// is not a terminal stays as it always was.
[[nodiscard]] bool hints_wanted();
