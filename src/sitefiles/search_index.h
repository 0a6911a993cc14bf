// The search data of the top-level README: one JavaScript file beside it
// that defines every port of the INDEX for the page's search box.
#pragma once

#include <cstddef>
#include <string_view>

// The file's name, which %%SEARCH_INDEX%% gives as its URL relative to the
// top-level README.html.
inline constexpr std::string_view search_index_name = "ports-index.js";

// The file is its head, one entry per port and its tail:
//
//	window.quillmarkPorts={version:2,ports:[
//	"NAME|VERSION|CATEGORY|DIRECTORY|MAINTAINER|NEEDED|COMMENT",
//	...
//	]};
//
// NAME is the package name without its version, and CATEGORY/DIRECTORY
// the port's origin, whose README.html is its page. CATEGORY and
// MAINTAINER are empty when they are those of the entry before, DIRECTORY
// when it is NAME. NEEDED is the number of ports whose build or run
// dependencies name this one, empty when none do. No field holds a '|', as
// none of the INDEX's does.
[[nodiscard]] char *append_search_head(char *pos, char *end);
[[nodiscard]] char *append_search_tail(char *pos, char *end);

// A port as its entry tells it: package is INDEX field 1 (name and
// version), path field 2 (the port's directory, whose last two names are
// its origin), maintainer field 6, comment field 4; needed is the number of
// its dependents.
struct search_entry {
	std::string_view package;
	std::string_view path;
	std::string_view maintainer;
	std::size_t needed = 0;
	std::string_view comment;
};

// The entry of port. *before holds the category (in path) and maintainer
// of the entry before, empty at the first, and is set to this one's.
[[nodiscard]] char *append_search_entry(
    char *pos, char *end, const search_entry &port, search_entry *before);

// The most bytes that the entry of those fields can take.
[[nodiscard]] std::size_t search_entry_bound(std::string_view package,
    std::string_view path, std::string_view maintainer,
    std::string_view comment);

// Whether the loaded top template asks for the search data.
[[nodiscard]] bool top_template_searches();

// Writes the search data of the whole INDEX as dir/ports-index.js through
// the pages' write path. 0, 1 after a report of the write, or -1 after
// saying how much could not be allocated for it.
[[nodiscard]] int write_search_index(const char *dir);
