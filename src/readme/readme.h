// README generation: templates, placeholders, output, and the builders.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalogue/catalogue.h"
#include "state/state.h"
#include "text/text.h"

// The first twelve are the classic set. From %%DESCR_TEXT%% on they are
// extensions: the port README fills all of them but %%SEARCH_INDEX%%, which
// only the top-level README fills. A template without them is expanded as
// if they did not exist.
inline constexpr std::array<std::string_view, 30> placeholders = {
    "%%PKG%%",			// 0
    "%%PORT%%",			// 1
    "%%PREFIX%%",		// 2
    "%%COMMENT%%",		// 3
    "%%DESCR%%",		// 4
    "%%EMAIL%%",		// 5
    "%%CATEGORY%%",		// 6
    "%%BUILD_DEPENDS%%",	// 7
    "%%RUN_DEPENDS%%",		// 8
    "%%WEBSITE%%",		// 9
    "%%TOP%%",			// 10
    "%%SUBDIR%%",		// 11
    "%%DESCR_TEXT%%",		// 12
    "%%BUILD_DEPENDS_LINKS%%",	// 13
    "%%RUN_DEPENDS_LINKS%%",	// 14
    "%%REQUIRED_BY%%",		// 15
    "%%PKGNAME%%",		// 16
    "%%PKGVERSION%%",		// 17
    "%%ORIGIN%%",		// 18
    "%%COMMENT_TEXT%%",		// 19
    "%%DESCR_HTML%%",		// 20
    "%%WEBSITE_LINK%%",		// 21
    "%%ALSO_LISTED%%",		// 22
    "%%BUILD_DEPENDS_LIST%%",	// 23
    "%%RUN_DEPENDS_LIST%%",	// 24
    "%%EXTRACT_DEPENDS_LIST%%", // 25
    "%%PATCH_DEPENDS_LIST%%",	// 26
    "%%FETCH_DEPENDS_LIST%%",	// 27
    "%%REQUIRED_BY_LIST%%",	// 28
    "%%SEARCH_INDEX%%",		// 29
};
static_assert(std::size(placeholders) == 30);

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
	ph_pkgname,
	ph_pkgversion,
	ph_origin,
	ph_comment_text,
	ph_descr_html,
	ph_website_link,
	ph_also_listed,
	ph_build_depends_list, // the lists, in the order of list_fields
	ph_run_depends_list,
	ph_extract_depends_list,
	ph_patch_depends_list,
	ph_fetch_depends_list,
	ph_required_by_list,
	ph_search_index,
};
static_assert(placeholders[kind_port] == "%%PORT%%");
static_assert(placeholders[kind_category] == "%%CATEGORY%%");
static_assert(placeholders[kind_top] == "%%TOP%%");
static_assert(placeholders[ph_subdir] == "%%SUBDIR%%");
static_assert(placeholders[ph_descr_text] == "%%DESCR_TEXT%%");
static_assert(placeholders[ph_required_by] == "%%REQUIRED_BY%%");
static_assert(placeholders[ph_build_depends_list] == "%%BUILD_DEPENDS_LIST%%");
static_assert(placeholders[ph_required_by_list] == "%%REQUIRED_BY_LIST%%");
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
// A port template with a list or the rendered description has no bound but
// this one: its pages are made in as much room as they need.
inline constexpr std::size_t large_page_max = std::size_t{1} << 30;
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

// Writes a finished builder's text, or reports that it did not fit (text_end
// null). 0, or 1 after the report.
[[nodiscard]] int finish_readme(const char *dir, const char *out,
    const char *text_end, std::size_t buffer_size);

// Loads the templates that kind needs, and what they need, and calls its
// builder. The builder's 0 or 1, or -1 when a template or what it needs
// cannot be loaded, or kind is unknown. *unwritten counts every README.html
// that the request set out to write and could not (see the builders).
[[nodiscard]] int make_readme(const char *path, int kind, int *unwritten);

// A bit per placeholder code that a template holds.
using placeholder_set = std::uint64_t;
static_assert(placeholders.size() <= 64);
[[nodiscard]] placeholder_set placeholders_used(const char *tmpl);
[[nodiscard]] constexpr placeholder_set
placeholder_bit(int code)
{
	return placeholder_set{1} << code;
}
// The placeholders whose pages need the package index: those that link to
// other ports, and those that list them.
inline constexpr placeholder_set link_placeholders =
    placeholder_bit(ph_build_depends_links) |
    placeholder_bit(ph_run_depends_links) | placeholder_bit(ph_required_by);
inline constexpr placeholder_set list_placeholders =
    placeholder_bit(ph_build_depends_list) |
    placeholder_bit(ph_run_depends_list) |
    placeholder_bit(ph_extract_depends_list) |
    placeholder_bit(ph_patch_depends_list) |
    placeholder_bit(ph_fetch_depends_list) |
    placeholder_bit(ph_required_by_list);
// The placeholders whose text has no bound but the tree's: a page that uses
// them gets as much room as it needs.
inline constexpr placeholder_set unbounded_placeholders =
    placeholder_bit(ph_descr_html) | placeholder_bit(ph_build_depends_list) |
    placeholder_bit(ph_run_depends_list) |
    placeholder_bit(ph_extract_depends_list) |
    placeholder_bit(ph_patch_depends_list) |
    placeholder_bit(ph_fetch_depends_list) |
    placeholder_bit(ph_required_by_list);

// Port page extensions (depends.cc).

// The origin of a record as the tree's pages name it ("devel/gmake"): its
// port directory less the INDEX's "/usr/ports/".
[[nodiscard]] std::string_view port_origin(const index_record &record);

// The origin when a link can point to its page as it stands: the INDEX
// names it below "/usr/ports/", with two names or more, none of them empty,
// "." or "..", and link_safe. Empty otherwise.
[[nodiscard]] std::string_view port_directory(const index_record &record);

// The kinds of text that build_packages makes once for every line.
enum line_text_kind : std::size_t {
	text_page_link, // make_port_page_link
	text_list_entry, // make_list_entry
};
static_assert(text_list_entry + 1 == line_text_kinds);

// The link to the page of the port of INDEX line n, as a port page shows
// it; what build_packages is given to make them all once.
[[nodiscard]] char *make_port_page_link(char *pos, char *end, std::size_t n);

// The entry of the port of INDEX line n in a list, as a port page shows it,
// without its <li>; what build_packages is given to make them all once.
[[nodiscard]] char *make_list_entry(char *pos, char *end, std::size_t n);

// The bytes of the description file that the record names, read beneath
// the top into storage that stays valid until the next call; empty when it
// cannot or may not be read (said at -v).
[[nodiscard]] std::string_view read_port_description(
    const index_record &port);

// The linked field of port (build or run dependencies) after sentence,
// each package name that the INDEX holds a link to its port's page;
// nothing when the field is empty. depth: the number of directories of the
// page below the top.
[[nodiscard]] char *append_depends_links(char *pos, char *end,
    const index_record &port, index_field linked, std::string_view sentence,
    int depth);

// The ports whose dependencies name port's package, as links after a
// sentence, in INDEX order; nothing when there are none.
[[nodiscard]] char *append_required_by(
    char *pos, char *end, const index_record &port, int depth);

// Port page details (port_details.cc).

// The name and the version of a package name ("py311-foo" and "1.2_1" of
// "py311-foo-1.2_1"): they part at its last '-'.
[[nodiscard]] std::string_view package_base(std::string_view package);
[[nodiscard]] std::string_view package_version(std::string_view package);

// The port's web site for a <dl>: a term and its description, the address
// a link where it is http, https or ftp; nothing when address is empty.
[[nodiscard]] char *append_website_link(
    char *pos, char *end, std::string_view address);

// The port's categories after its primary one, for a <dl>: a term and a
// description that lists them, each a link to its page when the tree lists
// that category; nothing when there are none.
[[nodiscard]] char *append_also_listed(
    char *pos, char *end, const index_record &port, int depth);

// A list of the ports that port needs (the dependency field of list_fields
// at kind) or, at kind list_fields.size(), that need it: a section with a
// heading and one item per package, its name a link to its page and its
// origin beside it, sorted by name; nothing when it is empty.
inline constexpr std::array<index_field, 5> list_fields = {
    index_field::build_depends, index_field::run_depends,
    index_field::extract_depends, index_field::patch_depends,
    index_field::fetch_depends};
[[nodiscard]] char *append_depends_list(char *pos, char *end,
    const index_record &port, std::size_t kind, int depth);

// The builders. 0 when their own README.html was written, 1 after a report.
// Each adds to *unwritten the README.html files, its own and those below,
// that were refused or failed at the point of writing (a path or page too
// long, an open refused, a failed write, cut or close); a page that the
// tree's data keeps from being made at all (a port missing from the INDEX,
// a category Makefile that cannot be read) is no such failure.

// The README of the port in path, whose INDEX record is port.
[[nodiscard]] int make_port_readme(
    const char *path, int kind, const index_record &port, int *unwritten);
// The README of the category in path and those of its ports. Its comment,
// as its Makefile gives it (empty when it gives none), goes into comment,
// of size bytes.
[[nodiscard]] int make_category_readme(const char *path, int kind,
    char *comment, std::size_t size, int *unwritten);
[[nodiscard]] int make_top_readme(const char *path, int *unwritten);
