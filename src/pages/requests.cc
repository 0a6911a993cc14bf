// Requests for pages: the templates a request's kind can need, loaded on
// first need before any building starts (the builders nest without coming
// back here), the memory of the builders, and the builder called.
#include <strings.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <utility>

#include "catalogue/catalogue.h"
#include "pages/crew.h"
#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "site/site.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "state/messages.h"

// The run's templates: this module's own, filled before the pages that need
// them are made.
static page_templates loaded;

const page_templates &
templates()
{
	return loaded;
}

void
supply_templates(char *top, char *category, char *port)
{
	for (auto [field, text] : {std::pair{&loaded.top, top},
		 std::pair{&loaded.category, category},
		 std::pair{&loaded.port, port}}) {
		if (text != nullptr) {
			std::free(*field);
			*field = text;
		}
	}
}

// Makes sure *field holds the template README.<word>. 0, or -1 after
// load_file's report (the field stays null, so the next request tries again).
static int
need_template(char **field, const char *word)
{
	if (*field != nullptr)
		return 0;
	char path[path_size];
	if (!join_text(
		path, sizeof path, {state.templates_dir, "/README.", word})) {
		report_too_long({state.templates_dir, "/README.", word});
		return -1;
	}
	*field = load_file(path);
	return *field != nullptr ? 0 : -1;
}

// The port template, and what its placeholders need before the first page:
// the package index for the dependency links. A page without the links it
// should have would look whole, so without memory for the index no page
// is made: -1 after the report.
static int
need_port_template()
{
	if (need_template(&loaded.port, "port") != 0)
		return -1;
	if (loaded.port_examined)
		return 0;
	loaded.port_examined = true;
	loaded.port_uses = placeholders_used(loaded.port);
	placeholder_set uses = loaded.port_uses;
	if ((uses & (link_placeholders | list_placeholders)) == 0)
		return 0;
	const std::array<link_maker, line_text_kinds> makers = {
	    (uses & link_placeholders) != 0 ? make_port_page_link : nullptr,
	    (uses & list_placeholders) != 0 ? make_list_entry : nullptr};
	return build_packages(makers, (uses & list_placeholders) != 0) == 0
	    ? 0
	    : -1;
}

// Whether a category named like the maintainers' folder, in any case,
// takes its place.
static bool
maintainer_folder_taken()
{
	for (const char *name = state.category_list; *name != '\0';
	     name = list_next(name)) {
		if (strcasecmp(name, maintainer_folder.data()) == 0)
			return true;
	}
	return false;
}

int
decide_maintainer_pages(int kind)
{
	bool port_links = (loaded.port_uses &
			      placeholder_bit(ph_maintainer_link)) != 0;
	if (loaded.maintainer_pages_decided || (kind != kind_top && !port_links))
		return 0;
	if (need_template(&loaded.top, "top") != 0)
		return -1;
	loaded.maintainer_pages_decided = true;
	if ((placeholders_used(loaded.top) &
		placeholder_bit(ph_maintainers_link)) == 0)
		return 0;
	if (state.out_dir[0] == '\0') {
		if (state.verbosity != 0 && kind == kind_top)
			say_text(stderr, "Not making maintainer pages: they are made "
				   "only below an output root (-o)\n");
		return 0;
	}
	if (maintainer_folder_taken()) {
		if (kind == kind_top)
			say(stderr, "Category \"%s\" takes the place of the "
			    "maintainer pages; they are not made\n",
			    maintainer_folder.data());
		return 0;
	}
	if (need_template(&loaded.maintainer, "maintainer") != 0 ||
	    need_template(&loaded.maintainers, "maintainers") != 0)
		return -1;
	loaded.maintainer_pages = true;
	return 0;
}

// The port named by path, looked up in its category's INDEX group, and its
// README. 1 after a report when the category or the port is not there.
static int
make_requested_port(const char *path, int *unwritten)
{
	// The category is the first component of the path below the top,
	// which fits a path buffer as the path itself does.
	const char *relative = skip_prefix(path, state.top_dir_slash);
	char category[path_size];
	(void)copy_text(category, sizeof category,
	    std::string_view(relative, std::strcspn(relative, "/")));
	category_scan scan;
	if (select_category(category, &scan) != 0)
		return 1;
	index_record port;
	if (!find_port(&scan, path, &port)) {
		say(stderr, "Port %s not found in INDEX\n", relative);
		return 1;
	}
	return make_port_readme(path, kind_port, port, unwritten);
}

// Set once the memory of the builders could not be had.
static bool builders_failed;

// The memory of the builders that a request of kind nests: its own and
// those below. False after the report.
static bool
ready_builders(int kind)
{
	builders_failed = ready_port_readme() != 0 ||
	    (kind != kind_port && ready_category_readme() != 0) ||
	    (kind == kind_top && ready_top_readme() != 0);
	return !builders_failed;
}

bool
builders_memory_failed()
{
	return builders_failed;
}

int
make_readme(const char *path, int kind, int *unwritten)
{
	switch (kind) {
	case kind_port:
		if (need_port_template() != 0 ||
		    decide_maintainer_pages(kind) != 0 || !ready_builders(kind))
			return -1;
		return make_requested_port(path, unwritten);
	case kind_category: {
		if (need_template(&loaded.category, "category") != 0 ||
		    need_port_template() != 0 ||
		    decide_maintainer_pages(kind) != 0 || !ready_builders(kind))
			return -1;
		char comment[category_comment_size];
		return make_category_readme(
		    path, kind_category, comment, sizeof comment, unwritten);
	}
	case kind_top:
		if (need_port_template() != 0 ||
		    need_template(&loaded.category, "category") != 0 ||
		    need_template(&loaded.top, "top") != 0 ||
		    decide_maintainer_pages(kind) != 0 || !ready_builders(kind))
			return -1;
		return make_top_readme(path, unwritten);
	default:
		return -1;
	}
}

void
release_readmes()
{
	release_crew();
	release_port_readme();
	release_category_readme();
	release_top_readme();
	release_safety_pages();
	release_moved_readmes();
	release_shared_files();
	release_maintainer_pages();
	builders_failed = false;
	for (char *text : {loaded.top, loaded.category, loaded.port,
		 loaded.maintainer, loaded.maintainers})
		std::free(text);
	loaded = page_templates{};
}

int
finish_readme(const char *dir, const char *out, const char *text_end,
    std::size_t buffer_size)
{
	if (text_end == nullptr) {
		report_output_file(dir, "README.html",
		    "text would exceed its %zu-byte buffer; not written\n",
		    buffer_size);
		return 1;
	}
	return write_readme(dir, out, static_cast<std::size_t>(text_end - out));
}
