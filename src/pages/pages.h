// The pages: each kind's builder, the parts of a port page, and the
// requests that load the templates a kind needs and call its builder.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalogue/catalogue.h"
#include "state/state.h"
#include "engine/engine.h"
#include "engine/placeholders.h"
#include "text/text.h"

// Output buffers of the builders. The three nest (top, category, port) and
// never re-enter, so one of each serves a run: each builder's module
// allocates its own when a run first needs it, before the first page, and
// only as far as a README fills it is it touched. The busiest category of
// a real tree lists over 7,000 ports, close to a megabyte of link lines.
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

// Writes a finished builder's text, or reports that it did not fit (text_end
// null). 0, or 1 after the report.
[[nodiscard]] int finish_readme(const char *dir, const char *out,
    const char *text_end, std::size_t buffer_size);

// The templates of a run and what was learnt of them, owned by the requests
// (requests.cc): each loaded on the first request that can need it, before
// any of that request's pages is made, and only read by the builders.
struct page_templates {
	char *top;
	char *category;
	char *port;
	char *maintainer;  // a maintainer's page
	char *maintainers; // the index of the maintainers
	bool port_examined;	      // port_uses is known
	placeholder_set port_uses;    // a bit per placeholder code it holds
	bool maintainer_pages_decided; // maintainer_pages is known
	bool maintainer_pages;	      // made by this run and linked to
};
[[nodiscard]] const page_templates &templates();

// Takes the templates a caller supplies in place of the templates
// directory's (null: loaded as ever), owned from then on and freed with the
// others.
void supply_templates(char *top, char *category, char *port);

// Loads the templates that kind needs, and what they need, and calls its
// builder. The builder's 0 or 1, or -1 when a template or what it needs
// cannot be loaded, or kind is unknown. *unwritten counts every README.html
// that the request set out to write and could not (see the builders).
[[nodiscard]] int make_readme(const char *path, int kind, int *unwritten);

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
// the top into room (allocated on first need), valid until its next
// description; empty when it cannot or may not be read (said at -v when
// report).
[[nodiscard]] std::string_view read_port_description(
    const index_record &port, run_buffer *room, bool report = true);

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
    const index_record &port, std::size_t kind, int depth,
    run_buffer *lists);

// Maintainer pages (maintainers.cc).

// The folder below the output root that holds the maintainer pages.
inline constexpr std::string_view maintainer_folder = "maintainer";
// The size of a maintainer's file name with its NUL.
inline constexpr std::size_t maintainer_name_size = 65;

// The file name of the maintainer of address: ASCII letters folded, bytes
// other than lower-case letters, digits, '@', '.', '+' and '-' (and a
// leading '.') as "_" and two hex digits; one too long cut and ended by
// '~' and a hash of the address. Its length.
std::size_t maintainer_file_name(
    std::string_view address, char (&buf)[maintainer_name_size]);

// The maintainer of a page depth directories below the top, as a link to
// their page when the run makes maintainer pages, else to their address
// (only the address, escaped, where it may not stand in a link); nothing
// when address is empty.
[[nodiscard]] char *append_maintainer_page_link(
    char *pos, char *end, std::string_view address, int depth);

// Decides once per run whether it makes maintainer pages: when the top
// template links to them, with -o, unless a category takes their folder
// (reported when kind is kind_top); their templates are then loaded. 0, or
// -1 when a template cannot be loaded.
[[nodiscard]] int decide_maintainer_pages(int kind);

// The maintainer pages and their index, when the run makes them. 0, or 1
// after the report; *unwritten counts the pages not written.
[[nodiscard]] int make_maintainer_pages(int *unwritten);

// The memory of the builders, allocated before the first page so that a
// run without it writes none: the buffers of the port pages (and their
// lists, when the port template has any), of the category pages and of the
// top-level one. 0, or -1 after saying how much could not be had. The
// builders call them too, for a caller that has not.
[[nodiscard]] int ready_port_readme();
[[nodiscard]] int ready_page_work(page_work *work);
[[nodiscard]] int ready_lists(run_buffer *lists);
[[nodiscard]] int ready_category_readme();
[[nodiscard]] int ready_top_readme();
// True once that memory could not be had: no request can be made then,
// and so the whole run cannot.
[[nodiscard]] bool builders_memory_failed();
// Frees them all. Safe to run more than once.
void release_readmes();
void release_port_readme();
void release_page_work(page_work *work);
void release_category_readme();
void release_top_readme();
void release_maintainer_pages();

// The builders. 0 when their own README.html was written, 1 after a report.
// Each adds to *unwritten the README.html files, its own and those below,
// that were refused or failed at the point of writing (a path or page too
// long, an open refused, a failed write, cut or close); a page that the
// tree's data keeps from being made at all (a port missing from the INDEX,
// a category Makefile that cannot be read) is no such failure.

// The README of the port in path, whose INDEX record is port.
[[nodiscard]] int make_port_readme(
    const char *path, int kind, const index_record &port, int *unwritten);

// A port page made in two steps, so that threads can make pages while one
// writes them in order: the expansion, which reads the port's files and
// changes nothing of the run's (its messages can wait in a log), and the
// writing, which notes the page in what the run keeps.
struct port_made {
	port_page page;
	char *text_end;	  // the end of its text; null: it did not fit
	std::size_t size; // the room it was made in
	char *large;	  // the larger buffer it was made in, or null
	bool failed;	  // not made: its memory could not be had (said)
	bool lost;	  // made, but the larger buffer could not be had
};
// Expands the port's page into work's buffer. The record port, and path,
// must stay until it is written.
void expand_port_readme(const char *path, int kind, const index_record &port,
    page_work *work, port_made *made);
// Writes what expand_port_readme made: 0, or 1 after a report (added to
// *unwritten).
[[nodiscard]] int write_port_readme(
    const char *path, port_made *made, int *unwritten);
// The README of the category in path and those of its ports. Its comment,
// as its Makefile gives it (empty when it gives none), goes into comment,
// of size bytes.
[[nodiscard]] int make_category_readme(const char *path, int kind,
    char *comment, std::size_t size, int *unwritten);
[[nodiscard]] int make_top_readme(const char *path, int *unwritten);
// Whether the top, category or maintainer page has its own feed.atom
// beside it: the run writes the feeds, or a run for some pathnames makes a
// category page whose feed the published generation has (and keeps).
[[nodiscard]] bool page_feed_beside(page_context &page);
// The top page's lines of %%SUBDIR%%: each category's README made, and a
// link line to it, also for a category whose README failed.
[[nodiscard]] char *append_category_lines(
    char *pos, char *end, page_context &top);

// The pages of the ports that MOVED names as moved or removed and the tree
// no longer has, when the templates directory has README.moved (see
// moved_readme.cc); nothing without it. 0, or 1 after a report; each page
// that could not be written is added to *unwritten.
[[nodiscard]] int make_moved_readmes(int *unwritten);
// Whether make_moved_readmes makes the page of a moved or removed port at
// origin, which the INDEX no longer has: the templates directory has
// README.moved, and the port's Makefile is gone (below an output root).
[[nodiscard]] bool moved_readme_made(std::string_view origin);
// Frees their template and buffer. Safe to run more than once.
void release_moved_readmes();
