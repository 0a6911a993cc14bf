// The pages left where a port was: a bookmark or a link to the page of a
// port that MOVED names as moved or removed, and that the tree no longer
// has, leads to a page that says where it went (straight to the end of a
// chain of moves) or that it was removed.
//
// They are made only when the templates directory has README.moved, and
// only by a run that makes the top page, which is the run that knows the
// whole tree; the others leave them as they are (a published generation
// carries them over). Below the tree itself no directory is ever made: a
// page goes only where the port's directory still stands (a checkout
// keeps a removed port's directory while it holds an untracked page).
// Below an output root the directories are made as every page's are.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "io/io.h"
#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"
#include "treedata/moved.h"
#include "treedata/name_table.h"
#include "state/messages.h"

namespace {

// The template, loaded when the first top page is made; tried once.
char *moved_template;
bool moved_template_tried;

// The buffer of these pages: they never nest, so one serves the run.
run_buffer moved_out;
// Room for a page beyond its template's own bytes.
constexpr std::size_t moved_page_room = 64 * 1024;

struct moved_page : page_context {
	const moved_entry *entry;
	std::string_view destination; // empty: removed
};

// Loads README.moved from the templates directory. 0 when loaded or when
// there is none (no pages then), 1 after a report (and 1 again, without
// one, at every later call).
int
need_moved_template()
{
	static int result;
	if (moved_template_tried)
		return result;
	moved_template_tried = true;
	result = 1; // until it is loaded, or known to be missing
	char path[path_size];
	if (!join_text(
		path, sizeof path, {state.templates_dir, "/README.moved"})) {
		report_too_long({state.templates_dir, "/README.moved"});
		return 1;
	}
	int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0) {
		if (errno == ENOENT)
			result = 0;
		else
			say_error(path);
		return result;
	}
	if (state.verbosity >= 2)
		say(stderr, "Loading %s\n", path);
	moved_template = load_open_file(fd, path, nullptr);
	close(fd);
	result = moved_template != nullptr ? 0 : 1;
	return result;
}

// The origins of the INDEX, to tell in one lookup whether the tree has a
// port: built when the first page of a moved port is made.
name_table index_origins;
bool index_origins_built;

// 0, or -1 after reporting that memory ran out.
int
need_index_origins()
{
	if (index_origins_built)
		return 0;
	std::size_t lines = state.index_lines;
	if (name_table_make(&index_origins, lines) != 0)
		return -1;
	for (const char *line = state.index_text;
	     line != nullptr && line < state.index_end;
	     line += std::strlen(line) + 1) {
		index_record record;
		if (split_index_line(line, &record, index_field::origin))
			(void)name_table_add(
			    &index_origins, port_origin(record));
	}
	index_origins_built = true;
	return 0;
}

bool
in_index(std::string_view origin)
{
	return name_table_find(&index_origins, origin) != no_name;
}

// Whether the tree has the port origin, which the INDEX does not list: a
// directory with a Makefile (a port that a stale INDEX does not know yet is
// left alone).
bool
has_makefile(std::string_view origin)
{
	char makefile[path_size];
	if (!join_text(makefile, sizeof makefile,
		{state.top_dir_slash, origin, "/Makefile"}))
		return true;
	int fd = open_in_tree(makefile, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
	if (fd < 0)
		return errno != ENOENT && errno != ENOTDIR;
	close(fd);
	return true;
}

// Whether the directory path stands in the tree.
bool
directory_stands(const char *path)
{
	int fd = open_in_tree(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK, 0);
	if (fd < 0)
		return false;
	close(fd);
	return true;
}

const moved_page &
moved_of(page_context &page)
{
	return static_cast<const moved_page &>(page);
}

} // namespace

namespace fills {

std::string_view
moved_from(page_context &page)
{
	return moved_of(page).entry->old_origin;
}

char *
moved_to(char *pos, char *end, page_context &page)
{
	std::string_view destination = moved_of(page).destination;
	if (destination.empty())
		return append(pos, end, "removed");
	if (!link_safe(destination) || !in_index(destination))
		return insert(pos, end, tree_text::port_text, destination);
	pos = append(pos, end, "<a href=\"../../");
	pos = append(pos, end, destination);
	pos = append(pos, end, "/README.html\">");
	pos = append(pos, end, destination);
	return append(pos, end, "</a>");
}

char *
moved_date(char *pos, char *end, page_context &page)
{
	return append_date(pos, end, moved_of(page).entry->date);
}

std::string_view
moved_reason(page_context &page)
{
	return moved_of(page).entry->reason;
}

} // namespace fills

int
make_moved_readmes(int *unwritten)
{
	if (need_moved_template() != 0) {
		++*unwritten;
		return 1;
	}
	if (moved_template == nullptr || need_moved() != 0)
		return 0;
	if (need_index_origins() != 0) {
		++*unwritten;
		return 1;
	}
	std::size_t size = std::strlen(moved_template) + moved_page_room;
	int result = 0;
	for (std::size_t i = 0; i < moved_count(); i++) {
		const moved_entry &e = moved_at(i);
		if (in_index(e.old_origin))
			continue;
		char dir[path_size];
		if (!join_text(
			dir, sizeof dir, {state.top_dir_slash, e.old_origin})) {
			report_too_long({state.top_dir_slash, e.old_origin});
			++*unwritten;
			result = 1;
			continue;
		}
		// In the tree most of them have no directory: one look.
		if ((state.out_dir[0] == '\0' && !directory_stands(dir)) ||
		    has_makefile(e.old_origin))
			continue;
		if (need_buffer(&moved_out, size, "pages of moved ports") !=
		    0) {
			++*unwritten;
			return 1;
		}
		if (state.verbosity > 2)
			say(stdout, "Making README.html for moved port %.*s\n",
			    static_cast<int>(e.old_origin.size()),
			    e.old_origin.data());
		// A chain that comes back to this origin leads nowhere
		// further than its first step.
		std::string_view to = moved_destination(i);
		// The page stands where the port was.
		moved_page page = {{on_moved, depth_of_page(dir)}, &e,
		    to == e.old_origin ? e.new_origin : to};
		char *out = moved_out.data;
		char *text_end =
		    expand_page(moved_template, out, out + size, page);
		note_shared_files(page);
		int r = finish_readme(dir, out, text_end, size);
		*unwritten += r;
		result |= r;
	}
	return result;
}

bool
moved_readme_made(std::string_view origin)
{
	return state.out_dir[0] != '\0' && need_moved_template() == 0 &&
	    moved_template != nullptr && !has_makefile(origin);
}

void
release_moved_readmes()
{
	std::free(moved_template);
	moved_template = nullptr;
	moved_template_tried = false;
	release_buffer(&moved_out);
	name_table_release(&index_origins);
	index_origins_built = false;
}
