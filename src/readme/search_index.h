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
//	window.quillmarkPorts={version:1,ports:[
//	"NAME|VERSION|CATEGORY|DIRECTORY|COMMENT",
//	...
//	]};
//
// NAME is the package name without its version, and CATEGORY/DIRECTORY
// the port's origin, whose README.html is its page. CATEGORY is empty when
// it is that of the entry before, DIRECTORY when it is NAME. No field holds
// a '|', as none of the INDEX's does.
[[nodiscard]] char *append_search_head(char *pos, char *end);
[[nodiscard]] char *append_search_tail(char *pos, char *end);

// The entry of a port from its INDEX fields: package is field 1 (name and
// version), path field 2 (the port's directory, whose last two names are
// its origin), comment field 4. *category holds the category of the entry
// before (empty at the first) and is set to this one's.
[[nodiscard]] char *append_search_entry(char *pos, char *end,
    std::string_view package, std::string_view path, std::string_view comment,
    std::string_view *category);

// The most bytes that the entry of those fields can take.
[[nodiscard]] std::size_t search_entry_bound(
    std::string_view package, std::string_view path, std::string_view comment);

// Whether the loaded top template asks for the search data.
[[nodiscard]] bool top_template_searches();

// Writes the search data of the whole INDEX as dir/ports-index.js through
// the pages' write path. 0, 1 after a report of the write, or -1 after
// saying how much could not be allocated for it.
[[nodiscard]] int write_search_index(const char *dir);
