// Templates and their expansion.
//
// Every README is built whole in its builder's fixed buffer before it is
// written. Templates are loaded on first need, all that a request's kind can
// need before any building starts, since the builders nest without coming
// back here.
#include <strings.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "readme/readme.h"
#include "readme/safety_pages.h"
#include "site/site.h"
#include "state/state.h"

// For each byte, the placeholders whose third byte it is.
static constexpr std::array<placeholder_set, 256> by_third_byte = [] {
	std::array<placeholder_set, 256> table{};
	for (std::size_t code = 0; code < placeholders.size(); code++)
		table[static_cast<unsigned char>(placeholders[code][2])] |=
		    placeholder_bit(static_cast<int>(code));
	return table;
}();

int
placeholder_code(const char *text)
{
	// Every placeholder begins "%%", and their third bytes tell most of
	// them apart, so a '%' costs at most a few comparisons.
	if (text[1] != '%')
		return -1;
	placeholder_set candidates =
	    by_third_byte[static_cast<unsigned char>(text[2])];
	while (candidates != 0) {
		int code = std::countr_zero(candidates);
		candidates &= candidates - 1;
		// strncmp stops at the first difference or the template's NUL.
		std::string_view name = placeholders[static_cast<std::size_t>(code)];
		if (std::strncmp(text, name.data(), name.size()) == 0)
			return code;
	}
	return -1;
}

namespace {

// The walk of expand_template and expand_page: bytes are copied, and each
// placeholder's code given to substitute.
template <typename Substitute>
char *
expand(const char *tmpl, char *out, char *end, Substitute substitute)
{
	char *pos = out;
	const char *walk = tmpl;
	for (;;) {
		// Copy the run of plain bytes up to the next '%' or the NUL.
		const char *sign = std::strchr(walk, '%');
		std::size_t run = sign != nullptr
		    ? static_cast<std::size_t>(sign - walk)
		    : std::strlen(walk);
		pos = append(pos, end, std::string_view(walk, run));
		walk += run;
		if (*walk == '\0')
			return pos;
		int code = placeholder_code(walk);
		if (code < 0) {
			pos = append(pos, end, "%");
			walk++;
		} else {
			pos = substitute(code, pos);
			walk +=
			    placeholders[static_cast<std::size_t>(code)].size();
		}
	}
}

} // namespace

char *
expand_template(const char *tmpl, char *out, char *end,
    substitution_fn substitute, void *context)
{
	return expand(tmpl, out, end, [=](int code, char *pos) {
		return substitute(code, pos, end, context);
	});
}

char *
expand_page(const char *tmpl, char *out, char *end, page_context &page)
{
	return expand(tmpl, out, end, [end, &page](int code, char *pos) {
		return fill_placeholder(code, pos, end, page);
	});
}

int
depth_of_page(const char *dir)
{
	if (std::strcmp(dir, state.top_dir) == 0)
		return 0;
	return page_depth(skip_prefix(dir, state.top_dir_slash));
}

static char *
note_code(int code, char *pos, char *, void *context)
{
	*static_cast<placeholder_set *>(context) |= placeholder_bit(code);
	return pos;
}

placeholder_set
placeholders_used(const char *tmpl)
{
	// A walk without room finds every placeholder as the expansion does.
	placeholder_set used = 0;
	(void)expand_template(tmpl, nullptr, nullptr, note_code, &used);
	return used;
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
	if (need_template(&state.port_template, "port") != 0)
		return -1;
	if (state.port_template_examined)
		return 0;
	state.port_template_examined = true;
	state.port_template_uses = placeholders_used(state.port_template);
	placeholder_set uses = state.port_template_uses;
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
	bool port_links = (state.port_template_uses &
			      placeholder_bit(ph_maintainer_link)) != 0;
	if (state.maintainer_pages_decided || (kind != kind_top && !port_links))
		return 0;
	if (need_template(&state.top_template, "top") != 0)
		return -1;
	state.maintainer_pages_decided = true;
	if ((placeholders_used(state.top_template) &
		placeholder_bit(ph_maintainers_link)) == 0)
		return 0;
	if (state.out_dir[0] == '\0') {
		if (state.verbosity != 0 && kind == kind_top)
			std::fputs("Not making maintainer pages: they are made "
				   "only below an output root (-o)\n",
			    stderr);
		return 0;
	}
	if (maintainer_folder_taken()) {
		if (kind == kind_top)
			std::fprintf(stderr,
			    "Category \"%s\" takes the place of the "
			    "maintainer pages; they are not made\n",
			    maintainer_folder.data());
		return 0;
	}
	if (need_template(&state.maintainer_template, "maintainer") != 0 ||
	    need_template(&state.maintainers_template, "maintainers") != 0)
		return -1;
	state.maintainer_pages = true;
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
		std::fprintf(stderr, "Port %s not found in INDEX\n", relative);
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
		if (need_template(&state.category_template, "category") != 0 ||
		    need_port_template() != 0 ||
		    decide_maintainer_pages(kind) != 0 || !ready_builders(kind))
			return -1;
		char comment[category_comment_size];
		return make_category_readme(
		    path, kind_category, comment, sizeof comment, unwritten);
	}
	case kind_top:
		if (need_port_template() != 0 ||
		    need_template(&state.category_template, "category") != 0 ||
		    need_template(&state.top_template, "top") != 0 ||
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
	release_port_readme();
	release_lists();
	release_category_readme();
	release_top_readme();
	release_safety_pages();
	release_moved_readmes();
	release_shared_files();
	release_maintainer_pages();
	builders_failed = false;
}

int
finish_readme(const char *dir, const char *out, const char *text_end,
    std::size_t buffer_size)
{
	if (text_end == nullptr) {
		char shown[shown_size];
		(void)output_shown(dir, shown, sizeof shown);
		std::fprintf(stderr,
		    "%s/README.html: text would exceed its %zu-byte buffer; "
		    "not written\n",
		    shown, buffer_size);
		return 1;
	}
	return write_readme(dir, out, static_cast<std::size_t>(text_end - out));
}
