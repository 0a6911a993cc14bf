// README generation: templates, placeholders, output, and the builders.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "state/state.h"

// The first twelve are the classic set. From %%DESCR_TEXT%% on they are
// extensions: the port README fills the next four, the top-level README
// %%SEARCH_INDEX%%. A template without them is expanded as if they did not
// exist.
inline constexpr std::array<std::string_view, 17> placeholders = {
    "%%PKG%%",		       // 0
    "%%PORT%%",		       // 1
    "%%PREFIX%%",	       // 2
    "%%COMMENT%%",	       // 3
    "%%DESCR%%",	       // 4
    "%%EMAIL%%",	       // 5
    "%%CATEGORY%%",	       // 6
    "%%BUILD_DEPENDS%%",       // 7
    "%%RUN_DEPENDS%%",	       // 8
    "%%WEBSITE%%",	       // 9
    "%%TOP%%",		       // 10
    "%%SUBDIR%%",	       // 11
    "%%DESCR_TEXT%%",	       // 12
    "%%BUILD_DEPENDS_LINKS%%", // 13
    "%%RUN_DEPENDS_LINKS%%",   // 14
    "%%REQUIRED_BY%%",	       // 15
    "%%SEARCH_INDEX%%",	       // 16
};
static_assert(std::size(placeholders) == 17);

// A template is matched against every placeholder's whole text, which is
// only unambiguous while none is the beginning of another
// ("%%BUILD_DEPENDS%%" and "%%BUILD_DEPENDS_LINKS%%" part at the '%').
constexpr bool
placeholders_prefix_free()
{
	for (std::string_view a : placeholders) {
		for (std::string_view b : placeholders) {
			if (a != b && b.starts_with(a))
				return false;
		}
	}
	return true;
}
static_assert(placeholders_prefix_free());

enum placeholder : int {
	ph_pkg = 0,
	ph_port,
	ph_prefix,
	ph_comment,
	ph_descr,
	ph_email,
	ph_category,
	ph_build_depends,
	ph_run_depends,
	ph_website,
	ph_top,
	ph_subdir,
	ph_descr_text, // the first extension
	ph_build_depends_links,
	ph_run_depends_links,
	ph_required_by,
	ph_search_index,
};
static_assert(placeholders[kind_port] == "%%PORT%%");
static_assert(placeholders[kind_category] == "%%CATEGORY%%");
static_assert(placeholders[kind_top] == "%%TOP%%");
static_assert(placeholders[ph_subdir] == "%%SUBDIR%%");
static_assert(placeholders[ph_descr_text] == "%%DESCR_TEXT%%");
static_assert(placeholders[ph_required_by] == "%%REQUIRED_BY%%");
static_assert(placeholders[ph_search_index] == "%%SEARCH_INDEX%%");

// Output buffers of the builders. Static: the three nest (top, category,
// port) and never re-enter, and static storage is touched only as far as a
// README fills it. The busiest category of a real tree lists over 7,000
// ports, close to a megabyte of link lines.
inline constexpr std::size_t port_readme_size = 256 * 1024;
// A port template that uses an extension gets more room: the most required
// package of a real tree has over 20,000 dependents, some 80 bytes of link
// each.
inline constexpr std::size_t port_readme_extended_size = 4 * 1024 * 1024;
inline constexpr std::size_t category_readme_size = 8 * 1024 * 1024;
inline constexpr std::size_t top_readme_size = 64 * 1024;
inline constexpr std::size_t port_list_size = 1024 * 1024;

// The code (0 to 16) of the placeholder that begins at text, or -1.
[[nodiscard]] int placeholder_code(const char *text);

// A builder's substitution: appends the text of code at pos (bounded by end)
// and returns the position after it, or null when it did not fit or pos
// was null. It must still do its work (make the READMEs below) when pos is
// null, so that one README too large for its buffer costs no other README.
using substitution_fn = char *(*)(int code, char *pos, char *end,
    void *context);

// Expands template into [out, end): bytes are copied, placeholders replaced
// by the substitution. Returns the end of the text, or null when it did not
// fit (the walk still runs to the template's end).
[[nodiscard]] char *expand_template(const char *tmpl, char *out, char *end,
    substitution_fn substitute, void *context);

// Appends text with &, < and > escaped for HTML. Null when it does not fit.
[[nodiscard]] char *html_escape(char *pos, char *end, std::string_view text);

// Writes length bytes of text as dir/name, unless it holds them already;
// refuses what is not a regular file of its own. 0, or 1 after the report.
[[nodiscard]] int write_file(const char *dir, std::string_view name,
    const char *text, std::size_t length);

// write_file of dir/README.html.
[[nodiscard]] int write_readme(
    const char *dir, const char *text, std::size_t length);

// Writes a finished builder's text, or reports that it did not fit (text_end
// null). 0, or 1 after the report.
[[nodiscard]] int finish_readme(const char *dir, const char *out,
    const char *text_end, std::size_t buffer_size);

// Loads the templates that kind needs and calls its builder. The builder's
// 0 or 1, or -1 when a template cannot be loaded or kind is unknown.
[[nodiscard]] int make_readme(const char *path, int kind);

// Port page extensions (depends.cc).

// Whether the loaded port template uses an extension. The first call for a
// template examines it and, when it has a dependency placeholder, builds the
// package index.
[[nodiscard]] bool port_template_extended();

// The description file that INDEX field 5 names (descr), below the top, as
// escaped text; nothing when it cannot or may not be read (said at -v).
[[nodiscard]] char *append_description(char *pos, char *end, const char *descr);

// A dependency field (8 or 9) after sentence, each package name that the
// INDEX holds a link to its port's page; nothing when the field is empty.
// depth: the number of directories of the page below the top; run: deps
// is field 9 of the port found last, else field 8.
[[nodiscard]] char *append_depends_links(char *pos, char *end, const char *deps,
    std::string_view sentence, int depth, bool run);

// The ports whose dependencies name package, as links after a sentence, in
// INDEX order; nothing when there are none.
[[nodiscard]] char *append_required_by(
    char *pos, char *end, const char *package, int depth);

// The builders. 0 when their own README.html was written, 1 after a report.
// found, when not null, tells the caller whether the port's INDEX line was
// found (its fields are then in index_fields).
[[nodiscard]] int make_port_readme(
    const char *path, int kind, bool *found = nullptr);
[[nodiscard]] int make_category_readme(const char *path, int kind);
[[nodiscard]] int make_top_readme(const char *path);
