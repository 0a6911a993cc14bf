// The placeholders of the templates: one table, a row per placeholder, from
// which their codes, their sets and every page's dispatch follow: the kinds
// of page that fill it, how its text goes in and the function that gives
// it. Adding one is a row here, its function, and its entry in the manual
// page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalogue/catalogue.h"
#include "state/state.h"
#include "text/text.h"
#include "treedata/moved.h"
#include "treedata/port_status.h"
#include "treedata/updating.h"

// The kinds of page that templates make, a bit each: a placeholder's row
// names those that fill it; on the others it is removed.
enum page_bits : unsigned char {
	on_port = 1,
	on_category = 2,
	on_top = 4,
	on_vulnerable = 8, // the pages of vulnerable and of expiring ports
	on_expiring = 16,
	on_moved = 32,	     // the page left where a port was moved or removed
	on_maintainer = 64,  // a maintainer's page
	on_maintainers = 128, // the index of the maintainers
	on_every_page = 255,
};

// A page in the making, as the functions of its placeholders take it: its
// kind, and how many directories below the top it stands (0 for the
// top-level page and those beside it). Each kind's builder makes its own
// page of this, with what its placeholders need besides.
struct page_context {
	page_bits kind;
	int depth;
	// The files beside the top that the page links to, a bit each (see
	// note_shared_files): the page's own, noted in the run's when it is
	// made.
	unsigned char shared_asked = 0;
};

// The depth of a page written into dir, the top directory or one below it.
[[nodiscard]] int depth_of_page(const char *dir);

// What one thread needs to make port pages, a record for each thread that
// makes them: the page's buffer, the room of its dependency lists, and the
// bytes of the description and of the per-port files that a page reads.
// Allocated on first need, touched only as far as a page fills them.
struct page_work {
	run_buffer out;
	run_buffer lists;
	run_buffer description;
	run_buffer port_files;
	moved_query formerly;	 // the earlier names of a port
	updating_query notes; // the UPDATING notes that name it
	choice_book *choices; // its flavors and options; made on need
};

// A port page in the making.
struct port_page : page_context {
	page_work *work; // the buffers of the thread that makes it
	const index_record *port;
	const char *relative; // the port path below the top, "www/foo"
	// The description file, read on first need, once per page.
	bool description_read;
	std::string_view description;
	// The port's status, flavors and options from its Makefile, read on
	// first need, once per page.
	bool status_read;
	port_status status;
};

// The port page that the function of a port placeholder is given.
[[nodiscard]] inline port_page &
port_of(page_context &page)
{
	return static_cast<port_page &>(page);
}

// The two forms of a placeholder's function. One that gives one text of
// the tree leaves its insertion to the row's column; one that builds its
// text of several appends it at pos (bounded by end), returning the
// position after it, or null when it does not fit or pos was null (and
// still does its work then, as making the pages below).
using text_fill = std::string_view (*)(page_context &page);
using built_fill = char *(*)(char *pos, char *end, page_context &page);

// A row's function, of either form.
struct page_fill {
	text_fill text = nullptr;
	built_fill build = nullptr;

	constexpr page_fill() = default;
	constexpr page_fill(std::nullptr_t) {}
	constexpr page_fill(text_fill fill) : text(fill) {}
	constexpr page_fill(built_fill fill) : build(fill) {}
};

// The functions of the placeholders, by the module of their page kind.
namespace fills {
// Port pages (port_readme.cc, port_safety.cc, port_notes.cc).
std::string_view pkg(page_context &);
std::string_view port(page_context &);
std::string_view email(page_context &);
std::string_view top(page_context &);
std::string_view descr_text(page_context &);
std::string_view pkgname(page_context &);
std::string_view pkgversion(page_context &);
std::string_view origin(page_context &);
std::string_view comment_text(page_context &);
char *descr(char *, char *, page_context &);
char *build_depends(char *, char *, page_context &);
char *run_depends(char *, char *, page_context &);
char *website(char *, char *, page_context &);
char *build_depends_links(char *, char *, page_context &);
char *run_depends_links(char *, char *, page_context &);
char *required_by(char *, char *, page_context &);
char *descr_html(char *, char *, page_context &);
char *website_link(char *, char *, page_context &);
char *also_listed(char *, char *, page_context &);
char *build_depends_list(char *, char *, page_context &);
char *run_depends_list(char *, char *, page_context &);
char *extract_depends_list(char *, char *, page_context &);
char *patch_depends_list(char *, char *, page_context &);
char *fetch_depends_list(char *, char *, page_context &);
char *required_by_list(char *, char *, page_context &);
char *port_status_banners(char *, char *, page_context &);
char *license(char *, char *, page_context &);
char *vulnerabilities(char *, char *, page_context &);
char *formerly(char *, char *, page_context &);
char *updating(char *, char *, page_context &);
char *pkg_message(char *, char *, page_context &);
char *maintainer_link(char *, char *, page_context &);
// Port and category pages: the port's comment, or the category's with
// its number of ports (category_readme.cc).
char *comment(char *, char *, page_context &);
// Category pages (category_readme.cc).
std::string_view category(page_context &);
// Category and top pages: the pages of the ports or of the categories,
// made as it is reached, with a line each (category_readme.cc,
// top_readme.cc).
char *subdir(char *, char *, page_context &);
// The top page (top_readme.cc, maintainers.cc).
std::string_view search_index(page_context &);
std::string_view vulnerable_page(page_context &);
std::string_view expiring_page(page_context &);
std::string_view search_words(page_context &);
// The link to the index of the maintainers, a paragraph of its own;
// nothing when the run does not make maintainer pages.
char *maintainers_link(char *, char *, page_context &);
// The pages of the ports at risk (safety_pages.cc).
char *vulnerable_ports(char *, char *, page_context &);
char *expiring_ports(char *, char *, page_context &);
// The pages of moved ports (moved_readme.cc).
std::string_view moved_from(page_context &);
char *moved_to(char *, char *, page_context &);
char *moved_date(char *, char *, page_context &);
std::string_view moved_reason(page_context &);
// The maintainer pages and their index (maintainers.cc).
std::string_view maintainer(page_context &);
char *maintainer_ports(char *, char *, page_context &);
char *maintainer_port_count(char *, char *, page_context &);
char *maintainer_list(char *, char *, page_context &);
char *maintainer_count(char *, char *, page_context &);
// Port pages: the commits that changed the port, from the tree's history
// (port_history.cc).
char *recent_commits(char *, char *, page_context &);
char *last_changed(char *, char *, page_context &);
// Every page: the URLs of the shared files (shared_files.cc).
char *stylesheet(char *, char *, page_context &);
char *script(char *, char *, page_context &);
// The top, category and maintainer pages: their own feed, in the head and
// as a paragraph; nothing when there is none (feed_links.cc).
char *feed_alternate(char *, char *, page_context &);
char *feed_link(char *, char *, page_context &);
// Port pages: the flavors and the options that the port's Makefile lists
// (port_choices.cc).
char *flavors(char *, char *, page_context &);
char *options(char *, char *, page_context &);
} // namespace fills

// The codes of the placeholders, in the table's order. The first twelve
// are the classic set; from %%DESCR_TEXT%% on they are extensions. A
// template without them is expanded as if they did not exist.
enum placeholder : int {
	ph_pkg,
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
	ph_port_status, // from the port's Makefile
	ph_license,
	ph_vulnerabilities, // from security/vuxml
	ph_vulnerable_page, // the two pages of the whole tree's ports at risk
	ph_expiring_page,
	ph_vulnerable_ports,
	ph_expiring_ports,
	ph_search_words,
	ph_formerly,	    // from MOVED
	ph_updating,	    // from UPDATING
	ph_pkg_message,	    // from the port's pkg-message
	ph_moved_from,	    // the page of a moved or removed port
	ph_moved_to,
	ph_moved_date,
	ph_moved_reason,
	ph_maintainer_link, // the maintainer pages, made with -o
	ph_maintainers_link,
	ph_maintainer,
	ph_maintainer_ports,
	ph_maintainer_port_count,
	ph_maintainer_list,
	ph_maintainer_count,
	ph_stylesheet, // the files every page shares
	ph_script,
	ph_feed_alternate, // the page's own feed
	ph_feed_link,
	ph_flavors, // from the port's Makefile, read once with its status
	ph_options,
	ph_recent_commits, // from the tree's git history
	ph_last_changed,
	placeholder_count
};

// What a placeholder needs of the package index before the first page:
// the links to other ports' pages, or also the order of their names.
enum class index_use : unsigned char { none, links, lists };

struct placeholder_row {
	placeholder code;
	std::string_view text;
	// How its text goes in: the one text of the tree that its function
	// gives, put in as insert_as puts it; or built (insertion::built) by
	// its function from several, each as its kind says.
	insertion how;
	unsigned char pages; // page_bits: the kinds of page that fill it
	index_use index;
	bool unbounded; // its length has no bound but the tree's
	page_fill fill; // of the form that how says; none where no page fills it
};

// Columns: code, text, how, pages, index, unbounded, fill.
inline constexpr std::array<placeholder_row, placeholder_count>
    placeholder_table = {{
	{ph_pkg, "%%PKG%%", insertion::as_is, on_port, index_use::none, false,
	    fills::pkg},
	{ph_port, "%%PORT%%", insertion::as_is, on_port, index_use::none, false,
	    fills::port},
	{ph_prefix, "%%PREFIX%%", insertion::as_is, 0, index_use::none, false,
	    nullptr},
	{ph_comment, "%%COMMENT%%", insertion::built, on_port | on_category,
	    index_use::none, false, fills::comment},
	{ph_descr, "%%DESCR%%", insertion::built, on_port, index_use::none,
	    false, fills::descr},
	{ph_email, "%%EMAIL%%", insertion::as_is, on_port, index_use::none,
	    false, fills::email},
	{ph_category, "%%CATEGORY%%", insertion::as_is, on_category,
	    index_use::none, false, fills::category},
	{ph_build_depends, "%%BUILD_DEPENDS%%", insertion::built, on_port,
	    index_use::none, false, fills::build_depends},
	{ph_run_depends, "%%RUN_DEPENDS%%", insertion::built, on_port,
	    index_use::none, false, fills::run_depends},
	{ph_website, "%%WEBSITE%%", insertion::built, on_port, index_use::none,
	    false, fills::website},
	{ph_top, "%%TOP%%", insertion::as_is, on_port, index_use::none, false,
	    fills::top},
	{ph_subdir, "%%SUBDIR%%", insertion::built, on_category | on_top,
	    index_use::none, false, fills::subdir},
	{ph_descr_text, "%%DESCR_TEXT%%", insertion::escaped, on_port,
	    index_use::none, false, fills::descr_text},
	{ph_build_depends_links, "%%BUILD_DEPENDS_LINKS%%", insertion::built,
	    on_port, index_use::links, false, fills::build_depends_links},
	{ph_run_depends_links, "%%RUN_DEPENDS_LINKS%%", insertion::built,
	    on_port, index_use::links, false, fills::run_depends_links},
	{ph_required_by, "%%REQUIRED_BY%%", insertion::built, on_port,
	    index_use::links, false, fills::required_by},
	{ph_pkgname, "%%PKGNAME%%", insertion::text, on_port, index_use::none,
	    false, fills::pkgname},
	{ph_pkgversion, "%%PKGVERSION%%", insertion::text, on_port,
	    index_use::none, false, fills::pkgversion},
	{ph_origin, "%%ORIGIN%%", insertion::text, on_port, index_use::none,
	    false, fills::origin},
	{ph_comment_text, "%%COMMENT_TEXT%%", insertion::text, on_port,
	    index_use::none, false, fills::comment_text},
	{ph_descr_html, "%%DESCR_HTML%%", insertion::built, on_port,
	    index_use::none, true, fills::descr_html},
	{ph_website_link, "%%WEBSITE_LINK%%", insertion::built, on_port,
	    index_use::none, false, fills::website_link},
	{ph_also_listed, "%%ALSO_LISTED%%", insertion::built, on_port,
	    index_use::none, false, fills::also_listed},
	{ph_build_depends_list, "%%BUILD_DEPENDS_LIST%%", insertion::built,
	    on_port, index_use::lists, true, fills::build_depends_list},
	{ph_run_depends_list, "%%RUN_DEPENDS_LIST%%", insertion::built, on_port,
	    index_use::lists, true, fills::run_depends_list},
	{ph_extract_depends_list, "%%EXTRACT_DEPENDS_LIST%%", insertion::built,
	    on_port, index_use::lists, true, fills::extract_depends_list},
	{ph_patch_depends_list, "%%PATCH_DEPENDS_LIST%%", insertion::built,
	    on_port, index_use::lists, true, fills::patch_depends_list},
	{ph_fetch_depends_list, "%%FETCH_DEPENDS_LIST%%", insertion::built,
	    on_port, index_use::lists, true, fills::fetch_depends_list},
	{ph_required_by_list, "%%REQUIRED_BY_LIST%%", insertion::built, on_port,
	    index_use::lists, true, fills::required_by_list},
	{ph_search_index, "%%SEARCH_INDEX%%", insertion::as_is, on_top,
	    index_use::none, false, fills::search_index},
	{ph_port_status, "%%PORT_STATUS%%", insertion::built, on_port,
	    index_use::none, false, fills::port_status_banners},
	{ph_license, "%%LICENSE%%", insertion::built, on_port, index_use::none,
	    false, fills::license},
	{ph_vulnerabilities, "%%VULNERABILITIES%%", insertion::built, on_port,
	    index_use::none, true, fills::vulnerabilities},
	{ph_vulnerable_page, "%%VULNERABLE_PAGE%%", insertion::as_is, on_top,
	    index_use::none, false, fills::vulnerable_page},
	{ph_expiring_page, "%%EXPIRING_PAGE%%", insertion::as_is, on_top,
	    index_use::none, false, fills::expiring_page},
	{ph_vulnerable_ports, "%%VULNERABLE_PORTS%%", insertion::built,
	    on_vulnerable, index_use::none, true, fills::vulnerable_ports},
	{ph_expiring_ports, "%%EXPIRING_PORTS%%", insertion::built, on_expiring,
	    index_use::none, true, fills::expiring_ports},
	{ph_search_words, "%%SEARCH_WORDS%%", insertion::as_is, on_top,
	    index_use::none, false, fills::search_words},
	{ph_formerly, "%%FORMERLY%%", insertion::built, on_port,
	    index_use::none, true, fills::formerly},
	{ph_updating, "%%UPDATING%%", insertion::built, on_port,
	    index_use::none, true, fills::updating},
	{ph_pkg_message, "%%PKG_MESSAGE%%", insertion::built, on_port,
	    index_use::none, true, fills::pkg_message},
	{ph_moved_from, "%%MOVED_FROM%%", insertion::text, on_moved,
	    index_use::none, false, fills::moved_from},
	{ph_moved_to, "%%MOVED_TO%%", insertion::built, on_moved,
	    index_use::none, false, fills::moved_to},
	{ph_moved_date, "%%MOVED_DATE%%", insertion::built, on_moved,
	    index_use::none, false, fills::moved_date},
	{ph_moved_reason, "%%MOVED_REASON%%", insertion::text, on_moved,
	    index_use::none, false, fills::moved_reason},
	{ph_maintainer_link, "%%MAINTAINER_LINK%%", insertion::built, on_port,
	    index_use::none, false, fills::maintainer_link},
	{ph_maintainers_link, "%%MAINTAINERS_LINK%%", insertion::built, on_top,
	    index_use::none, false, fills::maintainers_link},
	{ph_maintainer, "%%MAINTAINER%%", insertion::text, on_maintainer,
	    index_use::none, false, fills::maintainer},
	{ph_maintainer_ports, "%%MAINTAINER_PORTS%%", insertion::built,
	    on_maintainer, index_use::none, true, fills::maintainer_ports},
	{ph_maintainer_port_count, "%%MAINTAINER_PORT_COUNT%%",
	    insertion::built, on_maintainer, index_use::none, false,
	    fills::maintainer_port_count},
	{ph_maintainer_list, "%%MAINTAINER_LIST%%", insertion::built,
	    on_maintainers, index_use::none, true, fills::maintainer_list},
	{ph_maintainer_count, "%%MAINTAINER_COUNT%%", insertion::built,
	    on_maintainers, index_use::none, false, fills::maintainer_count},
	{ph_stylesheet, "%%STYLESHEET%%", insertion::built, on_every_page,
	    index_use::none, false, fills::stylesheet},
	{ph_script, "%%SCRIPT%%", insertion::built, on_every_page,
	    index_use::none, false, fills::script},
	{ph_feed_alternate, "%%FEED_ALTERNATE%%", insertion::built,
	    on_top | on_category | on_maintainer, index_use::none, false,
	    fills::feed_alternate},
	{ph_feed_link, "%%FEED_LINK%%", insertion::built,
	    on_top | on_category | on_maintainer, index_use::none, false,
	    fills::feed_link},
	{ph_flavors, "%%FLAVORS%%", insertion::built, on_port, index_use::none,
	    true, fills::flavors},
	{ph_options, "%%OPTIONS%%", insertion::built, on_port, index_use::none,
	    true, fills::options},
	{ph_recent_commits, "%%RECENT_COMMITS%%", insertion::built, on_port,
	    index_use::none, true, fills::recent_commits},
	{ph_last_changed, "%%LAST_CHANGED%%", insertion::built, on_port,
	    index_use::none, false, fills::last_changed},
    }};

// Every row stands at its code; a row that some page fills has a function
// of the form its insertion says, and one that none fills has none.
constexpr bool
placeholder_table_in_order()
{
	for (std::size_t i = 0; i < placeholder_table.size(); i++) {
		const placeholder_row &row = placeholder_table[i];
		bool built = row.how == insertion::built;
		bool filled = row.pages != 0;
		if (static_cast<std::size_t>(row.code) != i ||
		    (row.fill.build != nullptr) != (filled && built) ||
		    (row.fill.text != nullptr) != (filled && !built))
			return false;
	}
	return true;
}
static_assert(placeholder_table_in_order());

// A placeholder's text on a page: its function's, put in as its row says;
// nothing on a kind of page that does not fill it.
[[nodiscard]] inline char *
fill_placeholder(int code, char *pos, char *end, page_context &page)
{
	const placeholder_row &row =
	    placeholder_table[static_cast<std::size_t>(code)];
	if ((row.pages & page.kind) == 0)
		return pos;
	if (row.how == insertion::built)
		return row.fill.build(pos, end, page);
	return insert_as(pos, end, row.how, row.fill.text(page));
}

// The placeholders' texts by code.
inline constexpr std::array<std::string_view, placeholder_count>
    placeholders = [] {
	    std::array<std::string_view, placeholder_count> texts{};
	    for (const placeholder_row &row : placeholder_table)
		    texts[static_cast<std::size_t>(row.code)] = row.text;
	    return texts;
    }();

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

// The README kinds are the codes of the placeholders that name them.
static_assert(placeholders[kind_port] == "%%PORT%%");
static_assert(placeholders[kind_category] == "%%CATEGORY%%");
static_assert(placeholders[kind_top] == "%%TOP%%");

// A bit per placeholder code that a template holds.
using placeholder_set = std::uint64_t;
static_assert(placeholder_count <= 64);
[[nodiscard]] constexpr placeholder_set
placeholder_bit(int code)
{
	return placeholder_set{1} << code;
}

// The placeholders whose rows say so.
template <typename Test>
constexpr placeholder_set
placeholders_where(Test test)
{
	placeholder_set set = 0;
	for (const placeholder_row &row : placeholder_table) {
		if (test(row))
			set |= placeholder_bit(row.code);
	}
	return set;
}
// The placeholders whose pages need the package index: those that link to
// other ports, and those that list them.
inline constexpr placeholder_set link_placeholders = placeholders_where(
    [](const placeholder_row &row) { return row.index == index_use::links; });
inline constexpr placeholder_set list_placeholders = placeholders_where(
    [](const placeholder_row &row) { return row.index == index_use::lists; });
// The placeholders whose text has no bound but the tree's: a page that uses
// them gets as much room as it needs.
inline constexpr placeholder_set unbounded_placeholders = placeholders_where(
    [](const placeholder_row &row) { return row.unbounded; });
// The extensions: a port template with any gets the larger buffer.
inline constexpr placeholder_set extension_placeholders = placeholders_where(
    [](const placeholder_row &row) { return row.code >= ph_descr_text; });
