// The maintainer pages: one page per maintainer listing their ports, and
// an index of all maintainers, in a folder of the output root.
//
// The INDEX is read once into a table of the fields the pages show, sorted
// by maintainer with ASCII letters folded (so "Joe@Example.org" and
// "joe@example.org" are one maintainer) and then by name; each run of one
// maintainer is a page. A page's file name is made from the folded address
// alone, so that it is the same in every run and on every file system:
// bytes outside a small safe set become "_" and two hex digits, a leading
// '.' included, and a name longer than the bound is cut and ends in '~'
// and a hash of the whole address, a form that no uncut name takes. Every
// page is built in one buffer sized for the largest and written through
// write_file, which leaves a page that holds its bytes already untouched.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "catalogue/catalogue.h"
#include "pages/pages.h"
#include "site/site.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/hash.h"
#include "state/messages.h"

namespace {

// The address of the ports that nobody maintains, folded.
constexpr std::string_view no_maintainer = "ports@freebsd.org";
constexpr std::string_view no_maintainer_label = "ports without a maintainer";

// What a maintainer's page shows of one port.
struct maintained {
	std::string_view maintainer;
	std::string_view name; // the package name less its version
	std::string_view version;
	std::string_view origin;
	std::string_view directory; // its page's directory; empty: no link
	std::string_view comment;
};

char
fold(char c)
{
	return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int
compare_folded(std::string_view a, std::string_view b)
{
	std::size_t n = std::min(a.size(), b.size());
	for (std::size_t i = 0; i < n; i++) {
		auto x = static_cast<unsigned char>(fold(a[i]));
		auto y = static_cast<unsigned char>(fold(b[i]));
		if (x != y)
			return x < y ? -1 : 1;
	}
	return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool
ordered(const maintained &a, const maintained &b)
{
	int c = compare_folded(a.maintainer, b.maintainer);
	if (c != 0)
		return c < 0;
	if (a.name != b.name)
		return a.name < b.name;
	if (a.origin != b.origin)
		return a.origin < b.origin;
	return a.version < b.version;
}

bool
kept_in_name(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '@' ||
	    c == '.' || c == '+' || c == '-';
}

// The names that the folder holds beside the maintainers' directories.
constexpr std::array<std::string_view, 2> reserved_names = {
    "readme.html", "feed.atom"};

// The name of address with its first byte escaped when escape_first;
// see maintainer_file_name.
std::size_t
make_name(std::string_view address, bool escape_first,
    char (&buf)[maintainer_name_size])
{
	constexpr char hex[] = "0123456789abcdef";
	constexpr std::size_t name_max = maintainer_name_size - 1;
	// A cut name keeps up to cut_at bytes, then '~' and 16 hex digits.
	constexpr std::size_t cut_at = name_max - 17;
	std::size_t n = 0, whole_at_cut = 0;
	for (std::size_t i = 0; i < address.size(); i++) {
		char c = fold(address[i]);
		bool escape =
		    !kept_in_name(c) || (i == 0 && (c == '.' || escape_first));
		std::size_t need = escape ? 3 : 1;
		if (n + need > name_max) {
			std::uint64_t h = fnv1a_folded(address);
			n = whole_at_cut;
			buf[n++] = '~';
			for (int shift = 60; shift >= 0; shift -= 4)
				buf[n++] = hex[(h >> shift) & 0xf];
			buf[n] = '\0';
			return n;
		}
		if (escape) {
			auto b = static_cast<unsigned char>(c);
			buf[n++] = '_';
			buf[n++] = hex[b >> 4];
			buf[n++] = hex[b & 0xf];
		} else {
			buf[n++] = c;
		}
		if (n <= cut_at)
			whole_at_cut = n;
	}
	if (n == 0)
		buf[n++] = '_';
	buf[n] = '\0';
	return n;
}

// The table of every port, sorted, and the buffer of the pages: both made
// once per run when the pages are, and released with the builders.
run_buffer table_buffer;
run_buffer page_out;

// A maintainer's page, or the index of them all.
struct maintainer_page : page_context {
	std::span<const maintained> ports; // of one maintainer, or all
	std::size_t maintainers;	   // on the index
};

const maintainer_page &
maintainer_of(page_context &page)
{
	return static_cast<const maintainer_page &>(page);
}

// The address as a page shows it: the one of the unmaintained ports by
// what it means.
char *
append_maintainer(char *pos, char *end, std::string_view address)
{
	if (compare_folded(address, no_maintainer) == 0)
		return append(pos, end, no_maintainer_label);
	return insert(pos, end, tree_text::port_text, address);
}

char *
append_port_entry(char *pos, char *end, const maintained &port)
{
	pos = append(pos, end, "<li>");
	if (!port.directory.empty()) {
		pos = append(pos, end, "<a href=\"../../");
		pos = append(pos, end, port.directory);
		pos = append(pos, end, "/README.html\">");
		pos = insert(pos, end, tree_text::port_text, port.name);
		pos = append(pos, end, "</a>");
	} else {
		pos = insert(pos, end, tree_text::port_text, port.name);
	}
	pos = append(pos, end, " <span class=\"version\">");
	pos = insert(pos, end, tree_text::port_text, port.version);
	pos = append(pos, end, "</span> <code>");
	pos = insert(pos, end, tree_text::port_text, port.origin);
	pos = append(pos, end, "</code>: ");
	pos = insert(pos, end, tree_text::port_text, port.comment);
	return append(pos, end, "</li>\n");
}

// The end of the run of one maintainer's ports that begins at first.
std::size_t
group_end(std::span<const maintained> ports, std::size_t first)
{
	std::size_t i = first + 1;
	while (i < ports.size() &&
	    compare_folded(ports[i].maintainer, ports[first].maintainer) == 0)
		i++;
	return i;
}

char *
append_index_entry(
    char *pos, char *end, std::span<const maintained> ports)
{
	char name[maintainer_name_size];
	(void)maintainer_file_name(ports[0].maintainer, name);
	pos = append(pos, end, "<li><a href=\"");
	pos = append(pos, end, name);
	pos = append(pos, end, "/README.html\">");
	pos = append_maintainer(pos, end, ports[0].maintainer);
	pos = append(pos, end, "</a> (");
	pos = append_number(pos, end, static_cast<long long>(ports.size()));
	return append(pos, end, ports.size() == 1 ? " port)</li>\n"
						  : " ports)</li>\n");
}

char *
count_code(int, char *pos, char *, void *context)
{
	++*static_cast<std::size_t *>(context);
	return pos;
}

// How many placeholders tmpl holds, each time it holds them.
std::size_t
placeholders_in(const char *tmpl)
{
	std::size_t count = 0;
	(void)expand_template(tmpl, nullptr, nullptr, count_code, &count);
	return count;
}

// Escaped text grows at most sixfold ('"' becomes "&quot;").
constexpr std::size_t escape_growth = 6;

std::size_t
entry_bound(const maintained &port)
{
	return 128 + port.directory.size() +
	    escape_growth * (port.name.size() + port.version.size() +
				port.origin.size() + port.comment.size());
}

std::size_t
index_entry_bound(std::string_view maintainer)
{
	return 64 + maintainer_name_size + no_maintainer_label.size() +
	    escape_growth * maintainer.size();
}

// Builds the page of tmpl for context into page_out and writes it as
// dir/README.html. 0, or 1 after the report.
int
write_page(const char *dir, const char *tmpl, std::size_t bound,
    maintainer_page &page)
{
	std::size_t size =
	    std::strlen(tmpl) + placeholders_in(tmpl) * bound + 1;
	if (need_buffer(&page_out, size, "maintainer pages") != 0)
		return 1;
	page.depth = depth_of_page(dir);
	char *end = expand_page(
	    tmpl, page_out.data, page_out.data + page_out.size, page);
	note_shared_files(page);
	return finish_readme(dir, page_out.data, end, page_out.size);
}

// The table of every port of the INDEX, sorted; empty after the report
// when there is no memory for it.
std::span<maintained>
sorted_ports()
{
	std::size_t count = state.index_lines;
	if (count == 0 ||
	    need_buffer(&table_buffer, count * sizeof(maintained),
		"maintainer pages") != 0)
		return {};
	auto *table = reinterpret_cast<maintained *>(table_buffer.data);
	std::size_t n = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1) {
		index_record record;
		(void)split_index_line(line, &record, index_field::maintainer);
		std::string_view package = record[index_field::package];
		table[n++] = {record[index_field::maintainer],
		    package_base(package), package_version(package),
		    port_origin(record), port_directory(record),
		    record[index_field::comment]};
	}
	std::sort(table, table + n, ordered);
	return {table, n};
}

} // namespace

std::size_t
maintainer_file_name(
    std::string_view address, char (&buf)[maintainer_name_size])
{
	std::size_t n = make_name(address, false, buf);
	for (std::string_view reserved : reserved_names) {
		if (reserved == buf)
			return make_name(address, true, buf);
	}
	return n;
}

char *
append_maintainer_page_link(
    char *pos, char *end, std::string_view address, int depth)
{
	if (address.empty())
		return pos;
	if (!templates().maintainer_pages) {
		if (!link_safe(address))
			return insert(pos, end, tree_text::port_text, address);
		pos = append(pos, end, "<a href=\"mailto:");
		pos = append(pos, end, address);
		pos = append(pos, end, "\">");
		pos = insert(pos, end, tree_text::port_text, address);
		return append(pos, end, "</a>");
	}
	char name[maintainer_name_size];
	(void)maintainer_file_name(address, name);
	pos = append(pos, end, "<a href=\"");
	for (int i = 0; i < depth; i++)
		pos = append(pos, end, "../");
	pos = append(pos, end, maintainer_folder);
	pos = append(pos, end, "/");
	pos = append(pos, end, name);
	pos = append(pos, end, "/README.html\">");
	pos = insert(pos, end, tree_text::port_text, address);
	return append(pos, end, "</a>");
}

namespace fills {

std::string_view
maintainer(page_context &page)
{
	std::string_view address = maintainer_of(page).ports[0].maintainer;
	if (compare_folded(address, no_maintainer) == 0)
		return no_maintainer_label;
	return address;
}

char *
maintainer_ports(char *pos, char *end, page_context &page)
{
	pos = append(pos, end, "<ul class=\"maintained\">\n");
	for (const maintained &port : maintainer_of(page).ports)
		pos = append_port_entry(pos, end, port);
	return append(pos, end, "</ul>\n");
}

char *
maintainer_port_count(char *pos, char *end, page_context &page)
{
	return append_number(
	    pos, end, static_cast<long long>(maintainer_of(page).ports.size()));
}

char *
maintainer_list(char *pos, char *end, page_context &page)
{
	std::span<const maintained> ports = maintainer_of(page).ports;
	pos = append(pos, end, "<ul class=\"maintainers\">\n");
	for (std::size_t i = 0; i < ports.size();) {
		std::size_t next = group_end(ports, i);
		pos = append_index_entry(pos, end, ports.subspan(i, next - i));
		i = next;
	}
	return append(pos, end, "</ul>\n");
}

char *
maintainer_count(char *pos, char *end, page_context &page)
{
	return append_number(
	    pos, end, static_cast<long long>(maintainer_of(page).maintainers));
}

char *
maintainers_link(char *pos, char *end, page_context &)
{
	if (!templates().maintainer_pages)
		return pos;
	pos = append(pos, end, "<p><a href=\"");
	pos = append(pos, end, maintainer_folder);
	return append(pos, end, "/README.html\">Ports by maintainer</a></p>\n");
}

} // namespace fills

int
make_maintainer_pages(int *unwritten)
{
	if (!templates().maintainer_pages)
		return 0;
	std::span<maintained> ports = sorted_ports();
	if (ports.empty() && state.index_text < state.index_end) {
		++*unwritten;
		return 1;
	}
	std::size_t maintainers = 0, index_bound = 0;
	for (std::size_t i = 0; i < ports.size();) {
		std::size_t next = group_end(ports, i);
		index_bound += index_entry_bound(ports[i].maintainer);
		maintainers++;
		i = next;
	}
	// They are made only below an output root, which the line names as
	// the top-level page's does.
	if (state.quiet == 0)
		say(stdout, "Making %zu maintainer pages in %s/%s\n",
		    maintainers, state.out_dir, maintainer_folder.data());

	constexpr std::size_t list_overhead = 64;
	int failures = 0;
	char dir[path_size];
	for (std::size_t i = 0; i < ports.size();) {
		std::size_t next = group_end(ports, i);
		char name[maintainer_name_size];
		(void)maintainer_file_name(ports[i].maintainer, name);
		maintainer_page page = {
		    {on_maintainer, 0}, ports.subspan(i, next - i), maintainers};
		if (!join_text(dir, sizeof dir,
			{state.top_dir_slash, maintainer_folder, "/", name})) {
			report_too_long(
			    {state.top_dir_slash, maintainer_folder, "/", name});
			failures++;
		} else {
			std::size_t bound = 0;
			for (const maintained &port : page.ports)
				bound += entry_bound(port);
			failures += write_page(dir, templates().maintainer,
			    bound + list_overhead, page);
		}
		i = next;
	}
	maintainer_page all = {{on_maintainers, 0}, ports, maintainers};
	if (!join_text(
		dir, sizeof dir, {state.top_dir_slash, maintainer_folder})) {
		report_too_long({state.top_dir_slash, maintainer_folder});
		failures++;
	} else {
		failures += write_page(dir, templates().maintainers,
		    index_bound + list_overhead, all);
	}
	*unwritten += failures;
	return failures != 0 ? 1 : 0;
}

void
release_maintainer_pages()
{
	release_buffer(&table_buffer);
	release_buffer(&page_out);
}
