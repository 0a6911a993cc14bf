// Port page details: the package's name and version apart, its web site, the
// other categories it is listed in, and its dependencies and dependents as
// sorted lists.
//
// A list names each package with its version, a link to its page, and its
// origin beside it, so that a version's comma never reads as a separator.
// The entries are gathered into one scratch array, sorted by name without
// regard to case (ties in byte order, so the order is the same on every
// machine) and written once each: a package named twice in a field is one
// entry. Every text comes from the tree and is escaped and made UTF-8.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "catalogue/catalogue.h"
#include "pages/pages.h"
#include "state/pathnames.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

constexpr std::array<std::string_view, 3> link_schemes = {
    "http://", "https://", "ftp://"};

constexpr std::array<std::string_view, list_fields.size() + 1> list_headings =
    {"Build dependencies", "Run dependencies", "Extract dependencies",
	"Patch dependencies", "Fetch dependencies", "Required by"};

// The relative path from a page depth directories below the top to it.
char *
append_up(char *pos, char *end, int depth)
{
	for (int left = depth; left > 0; left--)
		pos = append(pos, end, "../");
	return pos;
}

// One entry of a list: the name it shows, and its INDEX line or -1. A
// plain record, so that the scratch array of them is touched only as far
// as a list fills it.
struct list_entry {
	const char *name;
	std::uint32_t size;
	std::int32_t line;
	std::uint32_t rank; // the line's place in the order of names

	std::string_view text() const { return {name, size}; }
};

// The most entries one list may have: more than any tree's ports.
constexpr std::size_t list_max = 1 << 20;

// Orders by name without regard to case, then by bytes, then by line: for
// two INDEX lines, their places in that order, found once per run.
bool
before(const list_entry &a, const list_entry &b)
{
	if (a.rank != UINT32_MAX && b.rank != UINT32_MAX)
		return a.rank < b.rank;
	int names = compare_package_names(a.text(), b.text());
	return names != 0 ? names < 0 : a.line < b.line;
}

// The entry of line n: its name a link to its page when it has one, and
// its origin beside it.
char *
compose_entry(char *pos, char *end, std::size_t n, int depth)
{
	index_record record = package_record(n, index_field::origin);
	std::string_view name = record[index_field::package];
	std::string_view dir = port_directory(record);
	if (dir.empty()) {
		pos = insert(pos, end, tree_text::port_text, name);
	} else {
		pos = append(pos, end, "<a href=\"");
		pos = append_up(pos, end, depth);
		pos = insert(pos, end, tree_text::link_directory, dir);
		pos = append(pos, end, "/README.html\">");
		pos = insert(pos, end, tree_text::port_text, name);
		pos = append(pos, end, "</a>");
	}
	pos = append(pos, end, " <span class=\"origin\">");
	pos = insert(pos, end, tree_text::port_text, port_origin(record));
	return append(pos, end, "</span>");
}

// Port pages lie two directories below the top: their entries are made
// once per run (build_packages).
constexpr int usual_depth = 2;

char *
append_entry(char *pos, char *end, const list_entry &entry, int depth)
{
	pos = append(pos, end, "<li>");
	if (entry.line < 0) {
		pos = insert(pos, end, tree_text::port_text, entry.text());
	} else {
		auto n = static_cast<std::size_t>(entry.line);
		std::string_view made = depth == usual_depth
		    ? package_text(n, text_list_entry)
		    : std::string_view();
		pos = made.empty() ? compose_entry(pos, end, n, depth)
				   : append(pos, end, made);
	}
	return append(pos, end, "</li>\n");
}

} // namespace

int
ready_lists(run_buffer *lists)
{
	return need_buffer(
	    lists, list_max * sizeof(list_entry), "dependency lists");
}

char *
make_list_entry(char *pos, char *end, std::size_t n)
{
	return compose_entry(pos, end, n, usual_depth);
}

std::string_view
package_base(std::string_view package)
{
	std::size_t dash = package.rfind('-');
	return dash == std::string_view::npos ? package
					      : package.substr(0, dash);
}

std::string_view
package_version(std::string_view package)
{
	std::size_t dash = package.rfind('-');
	return dash == std::string_view::npos ? std::string_view()
					      : package.substr(dash + 1);
}

char *
append_website_link(char *pos, char *end, std::string_view address)
{
	if (address.empty())
		return pos;
	bool linked = std::any_of(link_schemes.begin(), link_schemes.end(),
	    [&](std::string_view scheme) {
		    return address.starts_with(scheme);
	    });
	pos = append(pos, end, "<dt>Web site</dt>\n<dd>");
	if (linked) {
		pos = append(pos, end, "<a href=\"");
		pos = insert(pos, end, tree_text::address, address);
		pos = append(pos, end, "\">");
	}
	pos = insert(pos, end, tree_text::address, address);
	if (linked)
		pos = append(pos, end, "</a>");
	return append(pos, end, "</dd>\n");
}

char *
append_also_listed(char *pos, char *end, const index_record &port, int depth)
{
	field_words each(port[index_field::categories]);
	std::string_view name;
	if (!each.next(&name) || !each.next(&name))
		return pos;
	pos = append(pos, end, "<dt>Also listed in</dt>\n<dd>");
	const char *separator = "";
	do {
		pos = append(pos, end, separator);
		separator = ", ";
		bool linked = listed_category(name) && link_safe(name);
		if (linked) {
			pos = append(pos, end, "<a href=\"");
			pos = append_up(pos, end, depth);
			pos = insert(pos, end, tree_text::category_link, name);
			pos = append(pos, end, "/README.html\">");
		}
		pos = insert(pos, end, tree_text::port_text, name);
		if (linked)
			pos = append(pos, end, "</a>");
	} while (each.next(&name));
	return append(pos, end, "</dd>\n");
}

char *
append_depends_list(char *pos, char *end, const index_record &port,
    std::size_t kind, int depth, run_buffer *lists)
{
	if (ready_lists(lists) != 0)
		return nullptr;
	auto *entries = reinterpret_cast<list_entry *>(lists->data);
	std::size_t count = 0;
	auto add = [&](std::string_view name, long line) {
		if (count == list_max)
			return false;
		entries[count++] = {name.data(),
		    static_cast<std::uint32_t>(name.size()),
		    static_cast<std::int32_t>(line),
		    line >= 0 ? package_rank(static_cast<std::size_t>(line))
			      : UINT32_MAX};
		return true;
	};
	if (kind < list_fields.size()) {
		field_words each(port[list_fields[kind]]);
		for (std::string_view word; each.next(&word);) {
			if (!add(word, find_package(word)))
				return nullptr;
		}
	} else {
		long line = find_package(port[index_field::package]);
		std::span<const std::uint32_t> dependents = line >= 0
		    ? package_dependents(static_cast<std::size_t>(line))
		    : std::span<const std::uint32_t>();
		for (std::uint32_t n : dependents) {
			if (!add(package_name(n), static_cast<long>(n)))
				return nullptr;
		}
	}
	if (count == 0)
		return pos;
	std::sort(entries, entries + count, before);

	pos = append(pos, end, "<section class=\"deps\">\n<h2>");
	pos = append(pos, end, list_headings[kind]);
	pos = append(pos, end, "</h2>\n<ul>\n");
	for (std::size_t i = 0; i < count; i++) {
		// The same line is the same name; words the INDEX lacks are
		// compared as they are.
		if (i > 0 && entries[i].line == entries[i - 1].line &&
		    (entries[i].line >= 0 ||
			entries[i].text() == entries[i - 1].text()))
			continue;
		pos = append_entry(pos, end, entries[i], depth);
	}
	return append(pos, end, "</ul>\n</section>\n");
}
