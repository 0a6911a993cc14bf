// A port's flavors and options as its own Makefile lists them, read in the
// same pass over the file as its status (port_status.h).
//
// Only the lists that the file sets at its top level are read: FLAVORS and
// each flavor's <flavor>_PKGNAMEPREFIX and <flavor>_PKGNAMESUFFIX;
// OPTIONS_DEFINE, OPTIONS_DEFAULT, the group lists OPTIONS_SINGLE,
// OPTIONS_RADIO, OPTIONS_MULTI and OPTIONS_GROUP with each group's
// OPTIONS_<KIND>_<GROUP>, and every <NAME>_DESC. Lines inside .if and .for
// blocks are left out, whatever they would add or take away; "${...}" is
// kept as written. What the framework adds (its own flavors, its standard
// options and their descriptions, the per-architecture lists, OPTIONS_EXCLUDE)
// is not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The kind of an option's group, in the order the page shows the groups.
enum class option_kind : unsigned char {
	plain,	// OPTIONS_DEFINE: on or off alone
	single, // OPTIONS_SINGLE: exactly one of the group
	radio,	// OPTIONS_RADIO: at most one
	multi,	// OPTIONS_MULTI: at least one
	group,	// OPTIONS_GROUP: any of them
};
inline constexpr std::size_t option_kind_count = 5;

struct port_flavor {
	std::string_view name;
	// Its <flavor>_PKGNAMEPREFIX and _PKGNAMESUFFIX as set; has_name when
	// the Makefile sets either, so that the flavor makes a package name
	// of its own.
	std::string_view prefix;
	std::string_view suffix;
	bool has_name;
};

struct port_option {
	std::string_view name;
	std::string_view description; // its <NAME>_DESC; empty when none
	option_kind kind;
	std::string_view group; // empty for a plain option
	std::string_view group_description; // the group's <GROUP>_DESC
	bool on;			    // listed in OPTIONS_DEFAULT
};

// The flavors in their order (the first is the default) and the options:
// the plain ones in the order OPTIONS_DEFINE lists them, then each group's
// in the order of its kind and of its kind's list. An option listed twice
// is shown where it was first listed. Empty when the Makefile has none.
struct port_choices {
	std::span<const port_flavor> flavors;
	std::span<const port_option> options;
};

// The steps of the reading, for the Makefile reader. The texts passed must
// stay valid as long as the lists worked out of them are used, which stay
// valid themselves until the next begin_choices.

enum class choice_op : unsigned char {
	set,	      // "=" and ":="
	set_if_unset, // "?="
	append,	      // "+="
	shell,	      // "!=": a value that only make knows
	undefine,     // ".undef"
};

// Whether a variable named so belongs to the flavors or the options.
[[nodiscard]] bool is_choice_variable(std::string_view name);

// What a reader of Makefiles notes and works out, one for each thread that
// reads them: made by new_choice_book (null when there is no memory for
// it), freed by free_choice_book.
struct choice_book;
[[nodiscard]] choice_book *new_choice_book();
void free_choice_book(choice_book *book);

// Starts the assignments of another Makefile; the number of its reading.
[[nodiscard]] std::uint64_t begin_choices(choice_book &book);
// A top-level assignment to a variable that is_choice_variable accepts;
// value without its outer blanks and comment.
void note_choice(choice_book &book, std::string_view name, choice_op op,
    std::string_view value);
// The lists of reading, worked out on the first call and kept: only the
// pages that show them pay for them. Empty when another Makefile has been
// read into the book since.
[[nodiscard]] port_choices choices_of_reading(
    choice_book &book, std::uint64_t reading);
