// The search data of the top-level README.
//
// The page loads the data with a classic <script src>, the one way that
// works both from disk and over HTTP, so the file is JavaScript that only
// assigns one global. Every text in it is a string literal escaped so that
// nothing the INDEX holds can end the literal, the script or the file's
// UTF-8: a port is one literal of '|'-separated fields, which keeps the file
// near 80 bytes per port on a tree of real-sized names and comments, a
// field that repeats the entry before left empty. The
// whole file is built in one allocation sized from the INDEX, then written
// as a page is: left untouched when it holds those bytes already.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "pages/pages.h"
#include "sitefiles/search_index.h"
#include "site/site.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

// A string literal's bytes grow at most fourfold ('<' becomes "\x3C").
constexpr std::size_t escape_growth = 4;
// Quotes, six separators, a comma, a newline and the count's digits.
constexpr std::size_t entry_overhead = 10 + 10;

constexpr std::string_view head = "// The ports of this tree, for the search "
				  "of README.html.\n"
				  "window.quillmarkPorts={version:2,ports:[\n";
constexpr std::string_view tail = "]};\n";

// The origin's two names from the port's directory.
void
split_origin(
    std::string_view path, std::string_view *category, std::string_view *dir)
{
	while (!path.empty() && path.back() == '/')
		path.remove_suffix(1);
	std::size_t slash = path.rfind('/');
	*dir = slash == std::string_view::npos ? path : path.substr(slash + 1);
	path = slash == std::string_view::npos ? std::string_view()
					       : path.substr(0, slash);
	slash = path.rfind('/');
	*category =
	    slash == std::string_view::npos ? path : path.substr(slash + 1);
}

char *
append_field(char *pos, char *end, std::string_view text)
{
	pos = append_js_text(pos, end, text);
	return append(pos, end, "|");
}

// Every INDEX line, in INDEX order, once the INDEX is cut into lines. With
// out null, only the bound of their entries, in *bound.
char *
append_entries(char *pos, char *end, std::size_t *bound)
{
	search_entry before;
	std::size_t n = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1, n++) {
		index_record record;
		(void)split_index_line(line, &record, index_field::maintainer);
		std::string_view package = record[index_field::package];
		std::string_view path = record[index_field::origin];
		std::string_view comment = record[index_field::comment];
		std::string_view maintainer = record[index_field::maintainer];
		if (bound != nullptr) {
			*bound += search_entry_bound(
			    package, path, maintainer, comment);
		} else {
			search_entry entry = {package, path, maintainer,
			    package_dependents(n).size(), comment};
			pos = append_search_entry(pos, end, entry, &before);
		}
	}
	return pos;
}

} // namespace

char *
append_search_head(char *pos, char *end)
{
	return append(pos, end, head);
}

char *
append_search_tail(char *pos, char *end)
{
	return append(pos, end, tail);
}

char *
append_search_entry(
    char *pos, char *end, const search_entry &port, search_entry *before)
{
	std::string_view package = port.package;
	std::size_t dash = package.rfind('-');
	std::string_view name = package.substr(0, dash);
	std::string_view version = dash == std::string_view::npos
	    ? std::string_view()
	    : package.substr(dash + 1);
	std::string_view category, dir;
	split_origin(port.path, &category, &dir);
	// The category of the entry before, not its directory.
	std::string_view category_before = before->path;

	pos = append(pos, end, "\"");
	pos = append_field(pos, end, name);
	pos = append_field(pos, end, version);
	pos = append_field(pos, end,
	    category == category_before ? std::string_view() : category);
	pos = append_field(pos, end, dir == name ? std::string_view() : dir);
	pos = append_field(pos, end,
	    port.maintainer == before->maintainer ? std::string_view()
						  : port.maintainer);
	if (port.needed > 0) {
		std::array<char, 24> digits;
		int length = std::snprintf(
		    digits.data(), digits.size(), "%zu", port.needed);
		pos = append(pos, end,
		    std::string_view(digits.data(),
			static_cast<std::size_t>(length)));
	}
	pos = append(pos, end, "|");
	pos = append_js_text(pos, end, port.comment);
	before->path = category;
	before->maintainer = port.maintainer;
	return append(pos, end, "\",\n");
}

std::size_t
search_entry_bound(std::string_view package, std::string_view path,
    std::string_view maintainer, std::string_view comment)
{
	return escape_growth *
	    (package.size() + path.size() + maintainer.size() +
		comment.size()) +
	    entry_overhead;
}

bool
top_template_searches()
{
	return (placeholders_used(templates().top) &
		   placeholder_bit(ph_search_index)) != 0;
}

int
write_search_index(const char *dir)
{
	// The dependents of every port rank the search's results.
	const std::array<link_maker, line_text_kinds> no_makers = {};
	if (build_packages(no_makers, false) != 0)
		return -1;
	std::size_t size = head.size() + tail.size();
	(void)append_entries(nullptr, nullptr, &size);
	char *out = static_cast<char *>(std::malloc(size));
	if (out == nullptr) {
		std::fprintf(stderr,
		    "search data: cannot allocate %zu bytes: %s\n", size,
		    std::strerror(errno));
		return -1;
	}
	char *end = out + size;
	char *pos = append_search_head(out, end);
	pos = append_entries(pos, end, nullptr);
	pos = append_search_tail(pos, end);
	int result = 0;
	if (pos == nullptr) {
		// The bound is never too small; said rather than trusted.
		report_output_file(
		    dir, search_index_name, "not written: out of room\n");
		result = 1;
	} else {
		result = write_file(dir, search_index_name, out,
		    static_cast<std::size_t>(pos - out));
	}
	std::free(out);
	return result;
}
