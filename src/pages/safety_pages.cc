// The pages of every port at risk: those with known vulnerabilities in
// their version, and those deprecated or to be removed.
//
// Both need every port of the tree, and a whole-tree run already meets
// every port once, when it makes its page: each port is noted then, and
// the pages are made once the walk is over, so no Makefile is read twice
// and the database is searched once per port. Only the ports at risk are
// kept, a few texts each, copied into one growing arena by offset (a
// Makefile's values last only until the next port's is read). A run that
// makes only some pages does not make these: they stay as the last
// whole-tree run left them (carried over into a new generation with -o).
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "site/site.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"
#include "treedata/name_table.h"
#include "treedata/version.h"
#include "treedata/vuxml.h"
#include "state/messages.h"

namespace {

enum safety_page : std::size_t { vulnerable, expiring, page_count };

struct page_kind {
	placeholder link; // the top template's placeholder that links it
	page_bits page;	  // the kind of page it is
	const char *word; // its template is README.<word>
	std::string_view name;
};
constexpr std::array<page_kind, page_count> kinds = {{
    {ph_vulnerable_page, on_vulnerable, "vulnerable", vulnerable_page_name},
    {ph_expiring_page, on_expiring, "expiring", expiring_page_name},
}};

constexpr std::size_t none = SIZE_MAX;

// A port at risk: its texts as offsets into the arena, each
// NUL-terminated.
struct noted_port {
	std::size_t relative; // its directory below the top
	std::size_t package;  // INDEX field 1
	std::size_t date;     // EXPIRATION_DATE, or none
	std::size_t reason;   // DEPRECATED, or none
	std::size_t newest;   // the newest entry that affects it
};

struct noted_list {
	noted_port *ports;
	std::size_t count;
	std::size_t room;
	bool short_of_memory; // a port could not be noted: no page
};

struct safety_state {
	std::array<bool, page_count> wanted;
	std::array<char *, page_count> templates;
	std::array<noted_list, page_count> lists;
	char *text; // the arena
	std::size_t text_used;
	std::size_t text_room;
	std::array<std::size_t, status_var_count> with_status;
	std::size_t ports_seen;
	// The origins of the ports noted: a template may make a port's page
	// more than once (%%SUBDIR%% twice in the category template), and
	// the pages name each port once.
	name_table seen;
	bool seen_made;
};
safety_state safety;

// Makes *data hold room for need items of size bytes, doubling. False
// after the report.
bool
make_room(void **data, std::size_t *room, std::size_t need, std::size_t size)
{
	if (need <= *room)
		return true;
	std::size_t grown = std::max<std::size_t>(*room * 2, 64);
	while (grown < need)
		grown *= 2;
	void *moved = std::realloc(*data, grown * size);
	if (moved == nullptr) {
		say(stderr, "ports at risk: cannot allocate %zu bytes: %s\n",
		    grown * size, std::strerror(errno));
		return false;
	}
	*data = moved;
	*room = grown;
	return true;
}

// The text's offset once copied into the arena, or none when it cannot be.
std::size_t
keep_text(std::string_view text)
{
	void *data = safety.text;
	if (!make_room(&data, &safety.text_room,
		safety.text_used + text.size() + 1, 1))
		return none;
	safety.text = static_cast<char *>(data);
	std::size_t at = safety.text_used;
	std::memcpy(safety.text + at, text.data(), text.size());
	safety.text[at + text.size()] = '\0';
	safety.text_used += text.size() + 1;
	return at;
}

std::string_view
kept(std::size_t at)
{
	return at == none ? std::string_view()
			  : std::string_view(safety.text + at);
}

// Whether the port of page is noted for the first time. False too, and
// neither page is whole then, when there is no memory to tell.
bool
first_sight(const port_page &page)
{
	if (!safety.seen_made) {
		safety.seen_made = true;
		std::size_t lines = state.index_lines;
		if (name_table_make(&safety.seen, lines) != 0) {
			for (noted_list &list : safety.lists)
				list.short_of_memory = true;
		}
	}
	if (safety.seen.slots == nullptr)
		return false;
	std::uint32_t before = safety.seen.count;
	(void)name_table_add(
	    &safety.seen, (*page.port)[index_field::origin]);
	return safety.seen.count != before;
}

void
note_port(safety_page which, const port_page &page, std::string_view date,
    std::string_view reason, bool has_date, bool has_reason, std::size_t newest)
{
	noted_list &list = safety.lists[which];
	void *data = list.ports;
	if (list.short_of_memory ||
	    !make_room(&data, &list.room, list.count + 1, sizeof(noted_port))) {
		list.short_of_memory = true;
		return;
	}
	list.ports = static_cast<noted_port *>(data);
	noted_port port = {keep_text(page.relative),
	    keep_text((*page.port)[index_field::package]),
	    has_date ? keep_text(date) : none,
	    has_reason ? keep_text(reason) : none, newest};
	if (port.relative == none || port.package == none ||
	    (has_date && port.date == none) ||
	    (has_reason && port.reason == none)) {
		list.short_of_memory = true;
		return;
	}
	list.ports[list.count++] = port;
}

// Whether entry a was made after entry b: by the date of the entry, and on
// the same date (or without one) by the database's order, newest first.
bool
newer_entry(std::size_t a, std::size_t b)
{
	std::string_view da = vuxml_entry_at(a).entry;
	std::string_view db = vuxml_entry_at(b).entry;
	if (da != db)
		return da > db;
	return a < b;
}

void
note_vulnerable(const port_page &page)
{
	if (need_vuxml() != 0)
		return;
	std::string_view name, version;
	split_package((*page.port)[index_field::package], &name, &version);
	vuxml_search search = vuxml_find(name, version);
	std::size_t i, newest = none;
	while (vuxml_next(&search, &i)) {
		if (newest == none || newer_entry(i, newest))
			newest = i;
	}
	if (newest != none)
		note_port(vulnerable, page, {}, {}, false, false, newest);
}

void
note_expiring(port_page &page)
{
	const port_status &status = port_page_status(page);
	for (std::size_t v = 0; v < status_var_count; v++)
		safety.with_status[v] += status.values[v] != nullptr;
	const char *date = status[status_var::expiration_date];
	const char *reason = status[status_var::deprecated];
	if (date != nullptr || reason != nullptr)
		note_port(expiring, page, date != nullptr ? date : "",
		    reason != nullptr ? reason : "", date != nullptr,
		    reason != nullptr, none);
}

// The port's name as a link to its page, and its directory beside it.
char *
append_port(char *pos, char *end, const noted_port &port)
{
	std::string_view relative = kept(port.relative);
	bool linked = link_safe(relative);
	if (linked) {
		pos = append(pos, end, "<a href=\"");
		pos = insert(pos, end, tree_text::link_directory, relative);
		pos = append(pos, end, "/README.html\">");
	}
	pos = insert(pos, end, tree_text::link_name, kept(port.package));
	if (linked)
		pos = append(pos, end, "</a>");
	pos = append(pos, end, " <span class=\"origin\">");
	pos = insert(pos, end, tree_text::port_text, relative);
	return append(pos, end, "</span>");
}

char *
vulnerable_list(char *pos, char *end)
{
	if (need_vuxml() != 0)
		return append(pos, end,
		    "<p class=\"none\">The tree's vulnerability database could "
		    "not be read.</p>\n");
	const noted_list &list = safety.lists[vulnerable];
	if (list.count == 0)
		return append(pos, end,
		    "<p class=\"none\">No port has a known vulnerability in "
		    "its "
		    "version.</p>\n");
	pos = append(pos, end, "<ul class=\"ports-at-risk\">\n");
	for (std::size_t n = 0; n < list.count; n++) {
		const noted_port &port = list.ports[n];
		pos = append(pos, end, "<li>");
		pos = append_port(pos, end, port);
		pos = append(pos, end, "\n<ul>\n");
		std::string_view name, version;
		split_package(kept(port.package), &name, &version);
		// Its entries in the page's order, the newest first: each
		// the newest of those after the one before. A port has few.
		for (std::size_t shown = none;;) {
			vuxml_search search = vuxml_find(name, version);
			std::size_t i, next = none;
			while (vuxml_next(&search, &i)) {
				if ((shown == none || newer_entry(shown, i)) &&
				    (next == none || newer_entry(i, next)))
					next = i;
			}
			if (next == none)
				break;
			pos = append_vuxml_item(pos, end, next, true);
			shown = next;
		}
		pos = append(pos, end, "</ul></li>\n");
	}
	return append(pos, end, "</ul>\n");
}

char *
expiring_list(char *pos, char *end)
{
	const noted_list &list = safety.lists[expiring];
	if (list.count == 0)
		return append(pos, end,
		    "<p class=\"none\">No port is deprecated or to be "
		    "removed.</p>\n");
	pos = append(pos, end, "<ul class=\"ports-at-risk\">\n");
	for (std::size_t n = 0; n < list.count; n++) {
		const noted_port &port = list.ports[n];
		pos = append(pos, end, "<li>");
		pos = append_port(pos, end, port);
		if (port.date != none) {
			pos = append(pos, end,
			    "<br>\n<strong>To be removed on</strong> ");
			pos = append_date(pos, end, kept(port.date));
		}
		if (port.reason != none) {
			std::string_view reason = kept(port.reason);
			pos = append(pos, end, "<br>\n<strong>Deprecated");
			pos = append(pos, end,
			    reason.empty() ? "</strong>" : ":</strong> ");
			pos = insert(pos, end, tree_text::port_text, reason);
		}
		pos = append(pos, end, "</li>\n");
	}
	return append(pos, end, "</ul>\n");
}

// The newest affecting entry first; the earliest date of removal first,
// ports without a date after those with one; then by directory.
void
sort_ports()
{
	noted_list &vulnerable_ports = safety.lists[vulnerable];
	std::sort(vulnerable_ports.ports,
	    vulnerable_ports.ports + vulnerable_ports.count,
	    [](const noted_port &a, const noted_port &b) {
		    if (a.newest != b.newest)
			    return newer_entry(a.newest, b.newest);
		    return kept(a.relative) < kept(b.relative);
	    });
	noted_list &expiring_ports = safety.lists[expiring];
	std::sort(expiring_ports.ports,
	    expiring_ports.ports + expiring_ports.count,
	    [](const noted_port &a, const noted_port &b) {
		    bool dated_a = iso_date(kept(a.date));
		    bool dated_b = iso_date(kept(b.date));
		    if (dated_a != dated_b)
			    return dated_a;
		    if (kept(a.date) != kept(b.date))
			    return kept(a.date) < kept(b.date);
		    return kept(a.relative) < kept(b.relative);
	    });
}

// Makes one page in a buffer that doubles until it fits, and writes it.
// 0, or 1 after the report.
int
write_page(const char *dir, safety_page which)
{
	std::string_view name = kinds[which].name;
	page_context page = {kinds[which].page, depth_of_page(dir)};
	for (std::size_t size = 64 * 1024; size <= large_page_max; size *= 2) {
		char *out = static_cast<char *>(std::malloc(size));
		if (out == nullptr) {
			report_output_file(dir, name,
			    "cannot allocate %zu bytes: %s\n", size,
			    std::strerror(errno));
			return 1;
		}
		char *text_end =
		    expand_page(safety.templates[which], out, out + size, page);
		note_shared_files(page);
		if (text_end != nullptr) {
			int result = write_file(dir, name, out,
			    static_cast<std::size_t>(text_end - out));
			std::free(out);
			return result;
		}
		std::free(out);
	}
	report_output_file(dir, name, "not written: out of room\n");
	return 1;
}

} // namespace

namespace fills {

char *
vulnerable_ports(char *pos, char *end, page_context &)
{
	return vulnerable_list(pos, end);
}

char *
expiring_ports(char *pos, char *end, page_context &)
{
	return expiring_list(pos, end);
}

} // namespace fills

void
ready_safety_pages()
{
	placeholder_set links = placeholders_used(templates().top);
	for (std::size_t which = 0; which < page_count; which++) {
		const page_kind &kind = kinds[which];
		if ((links & placeholder_bit(kind.link)) == 0 ||
		    safety.wanted[which])
			continue;
		safety.wanted[which] = true;
		char path[path_size];
		if (join_text(path, sizeof path,
			{state.templates_dir, "/README.", kind.word}))
			safety.templates[which] = load_file(path);
		else
			report_too_long(
			    {state.templates_dir, "/README.", kind.word});
	}
}

void
note_safety(port_page &page)
{
	if ((!safety.wanted[vulnerable] && !safety.wanted[expiring]) ||
	    !first_sight(page))
		return;
	safety.ports_seen++;
	if (safety.wanted[vulnerable])
		note_vulnerable(page);
	if (safety.wanted[expiring])
		note_expiring(page);
}

int
write_safety_pages(const char *dir)
{
	sort_ports();
	int unwritten = 0;
	for (std::size_t which = 0; which < page_count; which++) {
		if (!safety.wanted[which])
			continue;
		// Without its template, or a port that could not be noted,
		// the page would not be whole: it is not written.
		if (safety.templates[which] == nullptr ||
		    safety.lists[which].short_of_memory) {
			report_output_file(
			    dir, kinds[which].name, "not written\n");
			unwritten++;
			continue;
		}
		unwritten += write_page(dir, static_cast<safety_page>(which));
	}
	if (state.verbosity > 0 && safety.wanted[vulnerable])
		say(stderr, "Vulnerabilities: %zu entries read, %zu of %zu ports "
		    "affected\n",
		    vuxml_entry_count(), safety.lists[vulnerable].count,
		    safety.ports_seen);
	if (state.verbosity > 0 && safety.wanted[expiring]) {
		auto at = [](status_var v) {
			return safety.with_status[static_cast<std::size_t>(v)];
		};
		say(stderr, "Port status: %zu deprecated, %zu expiring, %zu broken, "
		    "%zu forbidden, %zu ignored of %zu ports\n",
		    at(status_var::deprecated), at(status_var::expiration_date),
		    at(status_var::broken), at(status_var::forbidden),
		    at(status_var::ignore), safety.ports_seen);
	}
	return unwritten;
}

void
release_safety_pages()
{
	for (char *text : safety.templates)
		std::free(text);
	for (noted_list &list : safety.lists)
		std::free(list.ports);
	std::free(safety.text);
	name_table_release(&safety.seen);
	safety = safety_state{};
}
