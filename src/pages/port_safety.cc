// What a visitor wants to know before installing a port: its status from
// its own Makefile (deprecated, expiring, broken, forbidden, ignored), its
// licence, and the known vulnerabilities of its version.
//
// Nothing here is read unless a template asks: the Makefile once per page
// that uses %%PORT_STATUS%% or %%LICENSE%% (or the flavors and options,
// which come from the same reading), the vulnerability database once
// per run, when the first page uses %%VULNERABILITIES%%. Every value comes
// from files that anyone with commit access writes, so all of it is escaped
// text; an entry's identifier goes into its link only when link_safe says
// it may.
#include <cstddef>
#include <string_view>

#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"
#include "treedata/calendar.h"
#include "treedata/port_status.h"
#include "treedata/version.h"
#include "treedata/vuxml.h"

namespace {

// The banners, in the order a visitor needs them: what stops the port
// being built or installed first, then its end.
struct banner {
	status_var var;
	std::string_view css;
	std::string_view label;
};
constexpr banner banners[] = {
    {status_var::forbidden, "forbidden", "Forbidden:"},
    {status_var::broken, "broken", "Broken:"},
    {status_var::ignore, "ignored", "Will not be built:"},
    {status_var::deprecated, "deprecated", "Deprecated:"},
    {status_var::expiration_date, "expiring", "To be removed on"},
};

constexpr std::string_view vuxml_link = "https://vuxml.freebsd.org/freebsd/";

} // namespace

const port_status &
port_page_status(port_page &page)
{
	if (!page.status_read) {
		char dir[path_size];
		// The flavors and options are noted as the Makefile is
		// read, when the template shows them.
		page_work &work = *page.work;
		if (work.choices == nullptr &&
		    (templates().port_uses &
			(placeholder_bit(ph_flavors) |
			    placeholder_bit(ph_options))) != 0)
			work.choices = new_choice_book();
		if (join_text(
			dir, sizeof dir, {state.top_dir_slash, page.relative}))
			(void)read_port_status(dir, &work.port_files,
			    work.choices, &page.status);
		page.status_read = true;
	}
	return page.status;
}

bool
iso_date(std::string_view text)
{
	return text.size() == 10 && text[4] == '-' && text[7] == '-' &&
	    valid_calendar_date(
		text.substr(0, 4), text.substr(5, 2), text.substr(8, 2));
}

char *
append_date(char *pos, char *end, std::string_view date)
{
	if (!iso_date(date))
		return insert(pos, end, tree_text::port_text, date);
	pos = append(pos, end, "<time datetime=\"");
	pos = append(pos, end, date);
	pos = append(pos, end, "\">");
	pos = append(pos, end, date);
	return append(pos, end, "</time>");
}

char *
append_vuxml_item(char *pos, char *end, std::size_t i, bool entered)
{
	vuxml_entry e = vuxml_entry_at(i);
	bool linked = !e.vid.empty() && link_safe(e.vid);
	pos = append(pos, end, "<li>");
	if (linked) {
		pos = append(pos, end, "<a href=\"");
		pos = append(pos, end, vuxml_link);
		pos = append(pos, end, e.vid);
		pos = append(pos, end, ".html\">");
	}
	pos = insert(pos, end, tree_text::port_text, e.topic);
	if (linked)
		pos = append(pos, end, "</a>");
	// With the date it was entered, the one the list of vulnerable ports
	// is ordered by, the discovery follows where it differs.
	entered = entered && !e.entry.empty();
	bool discovered = !e.discovery.empty() &&
	    (!entered || e.discovery != e.entry);
	if (entered) {
		pos = append(pos, end, " (entered ");
		pos = append_date(pos, end, e.entry);
		pos = append(pos, end, discovered ? ", discovered " : ")");
	} else if (discovered) {
		pos = append(pos, end, " (discovered ");
	}
	if (discovered) {
		pos = append_date(pos, end, e.discovery);
		pos = append(pos, end, ")");
	}
	for (std::size_t k = 0; k < e.cve_count; k++) {
		pos = append(pos, end, k == 0 ? ": " : ", ");
		pos = insert(pos, end, tree_text::port_text, vuxml_cve(i, k));
	}
	return append(pos, end, "</li>\n");
}

namespace fills {

char *
port_status_banners(char *pos, char *end, page_context &page)
{
	const port_status &status = port_page_status(port_of(page));
	for (const banner &b : banners) {
		const char *value = status[b.var];
		if (value == nullptr)
			continue;
		pos = append(pos, end, "<p class=\"status ");
		pos = append(pos, end, b.css);
		pos = append(pos, end, "\"><strong>");
		pos = append(pos, end, b.label);
		pos = append(pos, end, "</strong>");
		if (*value != '\0')
			pos = append(pos, end, " ");
		if (b.var == status_var::expiration_date)
			pos = append_date(pos, end, value);
		else
			pos = insert(pos, end, tree_text::port_text, value);
		pos = append(pos, end, "</p>\n");
	}
	return pos;
}

char *
license(char *pos, char *end, page_context &page)
{
	const char *value =
	    port_page_status(port_of(page))[status_var::license];
	if (value == nullptr || *value == '\0')
		return pos;
	pos = append(pos, end, "<dt>License</dt>\n<dd>");
	pos = insert(pos, end, tree_text::port_text, value);
	return append(pos, end, "</dd>\n");
}

char *
vulnerabilities(char *pos, char *end, page_context &page)
{
	if (need_vuxml() != 0)
		return pos;
	std::string_view name, version;
	split_package(
	    (*port_of(page).port)[index_field::package], &name, &version);
	vuxml_search search = vuxml_find(name, version);
	std::size_t i;
	bool first = true;
	while (vuxml_next(&search, &i)) {
		if (first)
			pos = append(pos, end,
			    "<section class=\"vulnerabilities\">\n"
			    "<h2>Known vulnerabilities</h2>\n<ul>\n");
		first = false;
		pos = append_vuxml_item(pos, end, i);
	}
	if (!first)
		pos = append(pos, end, "</ul>\n</section>\n");
	return pos;
}

} // namespace fills
