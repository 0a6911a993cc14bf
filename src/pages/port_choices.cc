// The flavors and options of a port, as its own Makefile lists them: read
// with the port's status, once per page, and only when a template asks.
//
// Every name and description comes from a file that anyone with commit
// access writes, and "${...}" is shown as written: all of it is escaped
// text. Each list says that it is the Makefile's unconditional one, since
// what .if blocks and the framework add is not shown.
#include <cstddef>
#include <string_view>

#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "text/bounded.h"
#include "text/text.h"
#include "treedata/port_choices.h"
#include "treedata/port_status.h"

namespace {

constexpr std::string_view unconditional =
    "As the Makefile lists them outside its conditional parts.";

// How many of a group's options may be on, by the group's kind.
constexpr std::string_view kind_texts[option_kind_count] = {
    "", "choose exactly one", "choose at most one", "choose at least one",
    "choose any"};

char *
append_text(char *pos, char *end, std::string_view text)
{
	return insert(pos, end, tree_text::port_text, text);
}

char *
append_code(char *pos, char *end, std::string_view text)
{
	pos = append(pos, end, "<code>");
	pos = append_text(pos, end, text);
	return append(pos, end, "</code>");
}

// The port's package name without its version and without what the
// default flavor adds to it, where the name holds that as written.
std::string_view
flavor_base(const port_page &page, const port_flavor &first)
{
	std::string_view base =
	    package_base((*page.port)[index_field::package]);
	if (!first.prefix.empty() && base.size() > first.prefix.size() &&
	    base.starts_with(first.prefix))
		base.remove_prefix(first.prefix.size());
	if (!first.suffix.empty() && base.size() > first.suffix.size() &&
	    base.ends_with(first.suffix))
		base.remove_suffix(first.suffix.size());
	return base;
}

char *
append_option_row(char *pos, char *end, const port_option &o)
{
	pos = append(pos, end, "<tr><td>");
	pos = append_code(pos, end, o.name);
	pos = append(pos, end, "</td><td>");
	pos = append_text(pos, end, o.description);
	pos = append(pos, end,
	    o.on ? "</td><td class=\"on\">on</td></tr>\n"
		 : "</td><td class=\"off\">off</td></tr>\n");
	return pos;
}

// The heading row of a group: its name, its description and its kind.
char *
append_group_head(char *pos, char *end, const port_option &o)
{
	pos = append(pos, end,
	    "<tbody>\n<tr class=\"group\"><th colspan=\"3\" "
	    "scope=\"rowgroup\">");
	pos = append_code(pos, end, o.group);
	if (!o.group_description.empty()) {
		pos = append(pos, end, " ");
		pos = append_text(pos, end, o.group_description);
	}
	pos = append(pos, end, " <span class=\"kind\">");
	pos = append(pos, end, kind_texts[static_cast<std::size_t>(o.kind)]);
	return append(pos, end, "</span></th></tr>\n");
}

// The flavors and options of the page's port, read with its status.
port_choices
choices_of(port_page &port)
{
	return port_status_choices(port_page_status(port), port.work->choices);
}

} // namespace

namespace fills {

char *
flavors(char *pos, char *end, page_context &page)
{
	port_page &port = port_of(page);
	port_choices choices = choices_of(port);
	if (choices.flavors.empty())
		return pos;
	std::string_view base = flavor_base(port, choices.flavors.front());
	pos = append(pos, end, "<dt>Flavors</dt>\n<dd><ul class=\"flavors\">\n");
	bool first = true;
	for (const port_flavor &f : choices.flavors) {
		pos = append(pos, end, "<li>");
		pos = append_code(pos, end, f.name);
		if (first)
			pos = append(pos, end, " <em>(default)</em>");
		if (f.has_name) {
			pos = append(pos, end, ": package <code>");
			pos = append_text(pos, end, f.prefix);
			pos = append_text(pos, end, base);
			pos = append_text(pos, end, f.suffix);
			pos = append(pos, end, "</code>");
		}
		pos = append(pos, end, "</li>\n");
		first = false;
	}
	pos = append(pos, end, "</ul>\n<small class=\"note\">");
	pos = append(pos, end, unconditional);
	return append(pos, end, "</small></dd>\n");
}

char *
options(char *pos, char *end, page_context &page)
{
	port_choices choices = choices_of(port_of(page));
	if (choices.options.empty())
		return pos;
	pos = append(pos, end,
	    "<section class=\"options\">\n<h2>Options</h2>\n<table>\n"
	    "<thead><tr><th scope=\"col\">Option</th>"
	    "<th scope=\"col\">Description</th>"
	    "<th scope=\"col\">Default</th></tr></thead>\n");
	const port_option *previous = nullptr;
	for (const port_option &o : choices.options) {
		bool new_group = previous == nullptr ||
		    o.kind != previous->kind || o.group != previous->group;
		if (new_group) {
			if (previous != nullptr)
				pos = append(pos, end, "</tbody>\n");
			if (o.kind == option_kind::plain)
				pos = append(pos, end, "<tbody>\n");
			else
				pos = append_group_head(pos, end, o);
		}
		pos = append_option_row(pos, end, o);
		previous = &o;
	}
	pos = append(pos, end, "</tbody>\n</table>\n<p class=\"note\">");
	pos = append(pos, end, unconditional);
	return append(pos, end,
	    " The ports framework's own descriptions of its standard options "
	    "are not shown.</p>\n</section>\n");
}

} // namespace fills
